#pragma once

#include <vector>

#include "platform/Screens.h"

namespace penwick {

// The screen layout operations full screen is computed from, over the platform's screens.
class ScreenUtils {
public:
    // The screens ordered by the x of their frame's origin, smallest first; equal x keep their
    // platform order.
    static std::vector<platform::Screen> sortedScreens(const platform::Screens& screens);
    // The main screen's frame, then the frames of the screens to its right whose top edge is
    // exactly the main screen's, in x order. Empty without a main screen.
    static std::vector<platform::Rect> sortedScreenRects(const platform::Screens& screens);
    // The main screen's origin and height, as wide as all of sortedScreenRects together.
    static platform::Rect fullScreenRect(const platform::Screens& screens);
};

} // namespace penwick
