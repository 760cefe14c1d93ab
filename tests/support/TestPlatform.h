#pragma once

#include <functional>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "platform/WorkQueue.h"
#include "platform/glib/KeyFileUserDefaults.h"
#include "support/FakeAppEnvironment.h"
#include "support/RecordingScheduler.h"

namespace penwick::test {

// A background queue that holds what is submitted until the test runs it, if ever.
struct HeldWorkQueue : platform::WorkQueue {
    void submit(std::function<void()> task) override { tasks.push_back(std::move(task)); }
    std::vector<std::function<void()>> tasks;
};

// Dialogs that ask no one: every question is cancelled.
struct NoDialogs final : platform::Dialogs {
    void runAlert(const std::string&, const platform::DialogAsker&) override { }
    bool runConfirm(const std::string&, const platform::DialogAsker&) override { return false; }
    std::optional<std::string> runPrompt(const std::string&, const std::string&, const platform::DialogAsker&) override { return {}; }
    std::optional<std::vector<std::string>> runOpenPanel(platform::AllowMultipleFiles, const std::vector<std::string>&, const platform::DialogAsker&) override
    {
        return {};
    }
};

// The platform services as unit tests use them: a hand-turned main loop, background work held,
// an environment over a temporary folder and user defaults kept in it. Tests that need real
// threads build their own platform::Platform around a GLibWorkQueue.
struct TestPlatform {
    RecordingScheduler scheduler;
    HeldWorkQueue workQueue;
    FakeAppEnvironment environment;
    platform::KeyFileUserDefaults userDefaults { environment.temporaryDirectory() + "/user-defaults.ini" };
    platform::Platform platform { scheduler, workQueue, environment, userDefaults };
};

} // namespace penwick::test
