#pragma once

#include <functional>
#include <memory>

#include "platform/Registration.h"

namespace penwick::platform {

// The mouse pointer of the display, and the application's activation.
class Pointer {
public:
    virtual ~Pointer() = default;
    // Hide and show are idempotent: hiding a hidden pointer changes nothing.
    virtual void hide() = 0;
    virtual void show() = 0;

    // Movement counts when the pointer moves with no button or with only the left button held;
    // clicks, scrolling and keys do not. The local monitor hears movement over the application's
    // own windows, the global one movement over other applications (it may hear both).
    using MovementHandler = std::function<void()>;
    [[nodiscard]] virtual std::unique_ptr<Registration> addLocalMovementMonitor(MovementHandler handler) = 0;
    [[nodiscard]] virtual std::unique_ptr<Registration> addGlobalMovementMonitor(MovementHandler handler) = 0;
    // Called each time the application becomes active (one of its windows gets the focus while
    // none had it).
    [[nodiscard]] virtual std::unique_ptr<Registration> observeDidBecomeActive(std::function<void()> handler) = 0;
};

} // namespace penwick::platform
