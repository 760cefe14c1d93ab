#include "support/ThreadPoolWorkQueue.h"

namespace penwick::test {

ThreadPoolWorkQueue::ThreadPoolWorkQueue(unsigned threads)
{
    for (unsigned i = 0; i < (threads ? threads : 1); ++i)
        m_threads.emplace_back([this] { work(); });
}

ThreadPoolWorkQueue::~ThreadPoolWorkQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& t : m_threads)
        t.join();
}

void ThreadPoolWorkQueue::submit(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void ThreadPoolWorkQueue::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_tasks.empty() && m_running == 0; });
}

void ThreadPoolWorkQueue::work()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return; // stopping, and everything queued has been taken
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
            ++m_running;
        }
        task();
        {
            std::lock_guard lock(m_mutex);
            --m_running;
            if (m_tasks.empty() && m_running == 0)
                m_idle.notify_all();
        }
    }
}

} // namespace penwick::test
