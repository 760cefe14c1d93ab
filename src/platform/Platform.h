#pragma once

#include "platform/AppEnvironment.h"
#include "platform/Scheduler.h"
#include "platform/ServiceRegistry.h"
#include "platform/UserDefaults.h"
#include "platform/WorkQueue.h"

namespace penwick::platform {

// The process-wide platform services the host's classes use: the four every host has, and the
// optional ones by type. The composition root provides the real ones; unit tests hand in
// recording stand-ins. They outlive the controller.
struct Platform {
    Platform(Scheduler& s, WorkQueue& w, AppEnvironment& e, UserDefaults& u)
        : scheduler(s)
        , workQueue(w)
        , environment(e)
        , userDefaults(u)
    {
    }

    Scheduler& scheduler;
    WorkQueue& workQueue;
    AppEnvironment& environment;
    UserDefaults& userDefaults;
    ServiceRegistry services;
};

} // namespace penwick::platform
