#include "support/RecordingScheduler.h"

namespace penwick::test {

RecordingScheduler::RecordingScheduler() : m_mainThread(std::this_thread::get_id()) { }

void RecordingScheduler::post(std::function<void()> task)
{
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
}

bool RecordingScheduler::runOne()
{
    std::function<void()> task;
    {
        std::lock_guard lock(m_mutex);
        if (m_tasks.empty())
            return false;
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
    }
    task();
    return true;
}

size_t RecordingScheduler::runPending()
{
    size_t ran = 0;
    while (runOne())
        ++ran;
    return ran;
}

size_t RecordingScheduler::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

} // namespace penwick::test
