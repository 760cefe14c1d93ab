#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bridge/WHCallbackAddress.h"
#include "bridge/WHPluginResult.h"

namespace penwick {

class WHPlugin;
using Settings = std::map<std::string, std::string>;

// How plugins and the bridge reach the host: results to the page, background work, settings and
// plugins.
class WHCommandDelegate {
public:
    virtual ~WHCommandDelegate() = default;

    virtual WHPlugin* getCommandInstance(const std::string& pluginName) = 0;
    // Accepts results from any thread; script is evaluated on the main thread only. Nothing goes
    // to an address that wants no answer.
    virtual void sendPluginResult(const WHPluginResult& result, const WHCallbackAddress& address) = 0;
    virtual void runInBackground(std::function<void()> block) = 0;
    virtual const Settings& settings() const = 0;
};

} // namespace penwick
