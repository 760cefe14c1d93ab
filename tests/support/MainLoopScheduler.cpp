#include "support/MainLoopScheduler.h"

namespace penwick::test {

MainLoopScheduler::MainLoopScheduler() : m_mainThread(std::this_thread::get_id()) { }

void MainLoopScheduler::post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

bool MainLoopScheduler::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            // Wake up now and then to look at `done` even when nothing is posted.
            if (!m_wake.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20)),
                    [this] { return !m_tasks.empty(); })) {
                if (std::chrono::steady_clock::now() >= deadline)
                    return done();
                continue;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace penwick::test
