#pragma once

#include <functional>

namespace penwick::platform {

// The host's concurrent background queue. Tasks may run in parallel with each other and with
// the main thread; they hand results back through the Scheduler.
class WorkQueue {
public:
    virtual ~WorkQueue() = default;
    virtual void submit(std::function<void()> task) = 0;
};

} // namespace penwick::platform
