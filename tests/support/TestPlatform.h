#pragma once

#include "platform/Platform.h"
#include "platform/WorkQueue.h"
#include "platform/glib/KeyFileUserDefaults.h"
#include "support/FakeAppEnvironment.h"
#include "support/RecordingScheduler.h"

namespace penwick::test {

// A background queue that drops what is submitted.
class DroppingWorkQueue : public platform::WorkQueue {
public:
    void submit(std::function<void()>) override { }
};

// The platform services as unit tests use them: a hand-turned main loop, no background work,
// an environment over a temporary folder and user defaults kept in it. Tests that need real
// threads build their own platform::Platform around a GLibWorkQueue.
struct TestPlatform {
    RecordingScheduler scheduler;
    DroppingWorkQueue workQueue;
    FakeAppEnvironment environment;
    platform::KeyFileUserDefaults userDefaults { environment.temporaryDirectory() + "/user-defaults.ini" };
    platform::Platform platform { scheduler, workQueue, environment, userDefaults };
};

} // namespace penwick::test
