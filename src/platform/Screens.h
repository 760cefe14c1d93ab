#pragma once

#include <optional>
#include <vector>

#include "platform/Geometry.h"

namespace penwick::platform {

struct Screen {
    // Tells screens apart when their frames are equal; stable only within one layout.
    int id = 0;
    Rect frame;
};

// The attached screens (monitors).
class Screens {
public:
    virtual ~Screens() = default;
    // In the platform's own order.
    virtual std::vector<Screen> screens() const = 0;
    // The screen holding the focused window; the primary one before any window has had focus.
    // Nothing when no screen is attached.
    virtual std::optional<Screen> mainScreen() const = 0;
};

} // namespace penwick::platform
