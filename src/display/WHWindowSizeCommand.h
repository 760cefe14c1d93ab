#pragma once

#include "platform/Geometry.h"
#include "platform/Screens.h"
#include "platform/Window.h"

namespace penwick {

// Fixed window size and full screen over the main screen and the screens lined up to its right.
// Full screen is recognised by the missing title bar alone. One saved frame for the whole
// process: the window's frame from before the last makeFullScreen. Main thread only.
class WHWindowSizeCommand {
public:
    static void makeFullScreen(platform::Window& window, const platform::Screens& screens);
    static void removeFullScreen(platform::Window& window);
    static void toggleFullScreen(platform::Window& window, const platform::Screens& screens);
    // Gives the outer frame this size, keeping its bottom-left corner.
    static void setSizeOfWindow(platform::Window& window, platform::Size size);
};

} // namespace penwick
