#include "support/RecordingWorkQueue.h"

namespace penwick::test {

void RecordingWorkQueue::submit(std::function<void()> task)
{
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
}

size_t RecordingWorkQueue::runAll()
{
    size_t ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(m_mutex);
            if (m_tasks.empty())
                return ran;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
        ++ran;
    }
}

} // namespace penwick::test
