#pragma once

#include "platform/Clock.h"
#include "platform/Pointer.h"
#include "platform/Screens.h"

namespace penwick::platform {

// The display services of the window-and-display subsystem.
struct DisplayServices {
    Screens& screens;
    Pointer& pointer;
    Clock& clock;
};

} // namespace penwick::platform
