#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Scheduler.h"

namespace penwick::test {

// The main loop of a test: post() queues from any thread; runPending() runs the queued tasks in
// order on the calling thread. The thread that made it is the main thread. Standard primitives
// only, so that ThreadSanitizer sees every hand-over.
class RecordingScheduler : public platform::Scheduler {
public:
    void post(std::function<void()> task) override
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    bool isMainThread() const override { return std::this_thread::get_id() == m_mainThread; }

    // Runs queued tasks, including those they post, until none is left. Answers how many ran.
    size_t runPending()
    {
        size_t ran = 0;
        for (auto task = take(); task; task = take(), ++ran)
            task();
        return ran;
    }

private:
    std::function<void()> take()
    {
        std::lock_guard lock(m_mutex);
        if (m_tasks.empty())
            return nullptr;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

    const std::thread::id m_mainThread = std::this_thread::get_id();
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace penwick::test
