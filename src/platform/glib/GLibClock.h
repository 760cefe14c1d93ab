#pragma once

#include "platform/Clock.h"

namespace penwick::platform {

// The monotonic clock and timeouts on the default main context.
class GLibClock final : public Clock {
public:
    double now() const override;
    std::unique_ptr<Registration> scheduleRepeating(double intervalSeconds, std::function<void()> fire) override;
};

} // namespace penwick::platform
