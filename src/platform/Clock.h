#pragma once

#include <functional>
#include <memory>

#include "platform/Registration.h"

namespace penwick::platform {

// Time and repeating timers on the main loop.
class Clock {
public:
    virtual ~Clock() = default;
    // Seconds of a monotonic clock.
    virtual double now() const = 0;
    // Calls `fire` on the main loop every `intervalSeconds` until the registration is destroyed.
    [[nodiscard]] virtual std::unique_ptr<Registration> scheduleRepeating(double intervalSeconds, std::function<void()> fire) = 0;
};

} // namespace penwick::platform
