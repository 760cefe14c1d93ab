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
    RecordingScheduler();
    void post(std::function<void()> task) override;
    bool isMainThread() const override { return std::this_thread::get_id() == m_mainThread; }

    // Runs queued tasks, including those they post, until none is left. Answers how many ran.
    size_t runPending();
    size_t pendingCount() const;
    // Runs tasks as other threads post them until `done` holds; gives up after two minutes, a
    // guard against a hang rather than a measure of speed (sanitizer builds on a busy machine are
    // slow).
    // Answers whether `done` held.
    bool runUntil(const std::function<bool()>& done);

private:
    std::function<void()> take(std::chrono::milliseconds wait);

    std::thread::id m_mainThread;
    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace penwick::test
