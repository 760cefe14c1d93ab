#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Scheduler.h"

namespace penwick::test {

// A real main loop for tests with real threads: any thread posts; the thread that made the
// scheduler runs the tasks, in the order posted, while it waits in runUntil(). Built on standard
// primitives so that ThreadSanitizer sees every hand-over.
class MainLoopScheduler : public platform::Scheduler {
public:
    MainLoopScheduler();
    void post(std::function<void()> task) override;
    bool isMainThread() const override { return std::this_thread::get_id() == m_mainThread; }

    // Runs posted tasks until `done` holds (checked after each task and on every wake-up) or the
    // timeout passes. Answers whether `done` held. Main thread only.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    std::thread::id m_mainThread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace penwick::test
