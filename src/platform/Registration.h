#pragma once

namespace penwick::platform {

// A handler registered with the platform (timer, event monitor, observer). Destroying the
// registration removes the handler; it is not called afterwards.
class Registration {
public:
    virtual ~Registration() = default;
};

} // namespace penwick::platform
