#pragma once

#include <functional>
#include <thread>
#include <vector>

#include "bridge/WHCommandDelegate.h"
#include "bridge/WHPluginResult.h"

namespace penwick::test {

// A command delegate that keeps every answer with its address and the thread that sent it, and
// holds background work until the test runs it.
class RecordingCommandDelegate final : public WHCommandDelegate {
public:
    struct Answer {
        WHPluginResult result;
        WHCallbackAddress address;
        std::thread::id thread;
    };
    WHPlugin* getCommandInstance(const std::string&) override { return nullptr; }
    void sendPluginResult(const WHPluginResult& result, const WHCallbackAddress& address) override
    {
        answers.push_back({ result, address, std::this_thread::get_id() });
    }
    void runInBackground(std::function<void()> work) override { background.push_back(std::move(work)); }
    const Settings& settings() const override { return values; }

    Settings values;
    std::vector<Answer> answers;
    std::vector<std::function<void()>> background;
};

} // namespace penwick::test
