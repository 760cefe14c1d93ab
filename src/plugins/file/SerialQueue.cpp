#include "plugins/file/SerialQueue.h"

namespace penwick {

void SerialQueue::push(std::function<void()> task, const RunInBackground& runInBackground)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        if (m_running)
            return;
        m_running = true;
    }
    runInBackground([self = shared_from_this()] { self->drain(); });
}

void SerialQueue::drain()
{
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(m_mutex);
            if (m_tasks.empty()) {
                m_running = false;
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace penwick
