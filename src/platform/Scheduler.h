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
