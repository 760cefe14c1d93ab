#pragma once

#include "platform/AppEnvironment.h"
#include "platform/DisplayServices.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "platform/WorkQueue.h"

namespace penwick::platform {

// The process-wide platform services the host's classes use. The GTK implementation provides the
// real ones; unit tests hand in recording stand-ins. They outlive the controller.
struct Platform {
    Scheduler& scheduler;
    WorkQueue& workQueue;
    AppEnvironment& environment;
    UserDefaults& userDefaults;
    // Screens, pointer and clock of the window-and-display subsystem; without them the window
    // keeps its layout size and the pointer is left alone.
    DisplayServices* display = nullptr;
};

} // namespace penwick::platform
