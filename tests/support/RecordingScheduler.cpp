#include "support/RecordingScheduler.h"

namespace penwick::test {

RecordingScheduler::RecordingScheduler() : m_mainThread(std::this_thread::get_id()) { }

void RecordingScheduler::post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_posted.notify_one();
}

std::function<void()> RecordingScheduler::take(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    if (!m_posted.wait_for(lock, wait, [this] { return !m_tasks.empty(); }))
        return nullptr;
    auto task = std::move(m_tasks.front());
    m_tasks.pop_front();
    return task;
}

size_t RecordingScheduler::runPending()
{
    size_t ran = 0;
    for (auto task = take({}); task; task = take({}), ++ran)
        task();
    return ran;
}

size_t RecordingScheduler::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

bool RecordingScheduler::runUntil(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // A short wait, so that `done` is looked at again even when nothing is posted.
        if (auto task = take(std::chrono::milliseconds(20)))
            task();
    }
    return true;
}

} // namespace penwick::test
