#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Scheduler.h"

namespace penwick::test {

// A main loop the test turns by hand: post() queues (from any thread), runPending() runs the
// queued tasks in order on the calling thread. The thread that made it is the main thread.
class RecordingScheduler : public platform::Scheduler {
public:
    RecordingScheduler();
    void post(std::function<void()> task) override;
    bool isMainThread() const override { return std::this_thread::get_id() == m_mainThread; }

    // Runs queued tasks, including those they post, until none is left. Answers how many ran.
    size_t runPending();
    // Runs the oldest queued task, if any.
    bool runOne();
    size_t pendingCount() const;

private:
    std::thread::id m_mainThread;
    mutable std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace penwick::test
