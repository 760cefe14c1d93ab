#pragma once

#include "platform/Platform.h"
#include "support/DroppingWorkQueue.h"
#include "support/FakeAppEnvironment.h"
#include "support/InMemoryUserDefaults.h"
#include "support/RecordingScheduler.h"

namespace penwick::test {

// The platform services as unit tests use them: a hand-turned main loop, no background work,
// an environment over a temporary folder and in-memory user defaults. Tests that need real
// threads build their own platform::Platform around a ThreadedWorkQueue.
struct TestPlatform {
    RecordingScheduler scheduler;
    DroppingWorkQueue workQueue;
    FakeAppEnvironment environment;
    InMemoryUserDefaults userDefaults;
    platform::Platform platform { scheduler, workQueue, environment, userDefaults };
};

} // namespace penwick::test
