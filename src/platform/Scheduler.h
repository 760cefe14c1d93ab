#pragma once

#include <chrono>
#include <functional>

namespace penwick::platform {

// The main loop as the host sees it. post() runs a task on a later turn of the main loop; tasks
// run in the order posted, from whichever thread they were posted.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual void post(std::function<void()> task) = 0;
    // Runs a task after every task posted before it: at once when called on the main thread with
    // none of them waiting, else as post() does.
    virtual void runInOrder(std::function<void()> task) { post(std::move(task)); }
    virtual bool isMainThread() const = 0;
};

} // namespace penwick::platform

// Debug builds assert that main-loop work stays on the main loop.
#ifndef NDEBUG
#include <cassert>
#define WH_ASSERT_MAIN_THREAD(scheduler) assert((scheduler).isMainThread())
#else
#define WH_ASSERT_MAIN_THREAD(scheduler) ((void)0)
#endif
