#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Scheduler.h"

namespace penwick::test {

// The main loop of a test: post() queues from any thread; runPending() and runUntil() run the
// queued tasks in order on the calling thread. The thread that made it is the main thread.
// Standard primitives only, so that ThreadSanitizer sees every hand-over.
class RecordingScheduler : public platform::Scheduler {
public:
    void post(std::function<void()> task) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_posted.notify_one();
    }
    bool isMainThread() const override { return std::this_thread::get_id() == m_mainThread; }

    // Runs queued tasks, including those they post, until none is left. Answers how many ran.
    size_t runPending()
    {
        size_t ran = 0;
        for (auto task = take({}); task; task = take({}), ++ran)
            task();
        return ran;
    }
    // Runs tasks as other threads post them until `done` holds; answers whether it did. Two
    // minutes is a guard against a hang, not a measure of speed (sanitizer builds are slow).
    bool runUntil(const std::function<bool()>& done)
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

private:
    std::function<void()> take(std::chrono::milliseconds wait)
    {
        std::unique_lock lock(m_mutex);
        if (!m_posted.wait_for(lock, wait, [this] { return !m_tasks.empty(); }))
            return nullptr;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

    const std::thread::id m_mainThread = std::this_thread::get_id();
    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace penwick::test
