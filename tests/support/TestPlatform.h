#pragma once

#include <map>

#include "platform/Platform.h"
#include "platform/UserDefaults.h"
#include "platform/WorkQueue.h"
#include "support/FakeAppEnvironment.h"
#include "support/RecordingScheduler.h"

namespace penwick::test {

// User defaults held in memory, booleans as the texts "1" and "0".
class InMemoryUserDefaults : public platform::UserDefaults {
public:
    bool boolForKey(const std::string& key) const override { return stringForKey(key) == "1"; }
    std::optional<std::string> stringForKey(const std::string& key) const override
    {
        auto it = m_values.find(key);
        return it == m_values.end() ? std::nullopt : std::optional(it->second);
    }
    Result<void> setString(const std::string& key, const std::string& value) override
    {
        m_values[key] = value;
        return {};
    }
    Result<void> setBool(const std::string& key, bool value) override { return setString(key, value ? "1" : "0"); }

private:
    std::map<std::string, std::string> m_values;
};

// A background queue that drops what is submitted.
class DroppingWorkQueue : public platform::WorkQueue {
public:
    void submit(std::function<void()>) override { }
};

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
