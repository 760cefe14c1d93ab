#include "support/ThreadPoolWorkQueue.h"

namespace penwick::test {

ThreadPoolWorkQueue::ThreadPoolWorkQueue(unsigned threads)
{
    for (unsigned i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

void ThreadPoolWorkQueue::finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& t : m_threads) {
        if (t.joinable())
            t.join();
    }
}

void ThreadPoolWorkQueue::submit(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
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
        }
        task();
    }
}

} // namespace penwick::test
