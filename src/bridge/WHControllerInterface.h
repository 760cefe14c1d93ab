#pragma once

#include <string>

#include "bridge/WHCommandDelegate.h"
#include "platform/Platform.h"
#include "platform/WebView.h"

namespace penwick {

class WHCommandQueue;
class WHPlugin;
class WHPluginRegistry;

// What the bridge needs of the host window controller: its web view, settings, platform
// services, and the one plugin look-up. Main thread only.
class WHControllerInterface {
public:
    virtual ~WHControllerInterface() = default;
    virtual platform::Platform& platform() const = 0;
    virtual platform::WebView* webView() const = 0;
    virtual const Settings& settings() const = 0;
    virtual WHPlugin* getCommandInstance(const std::string& pluginName) = 0;
    // The registry page calls are dispatched through; it lives as long as the controller.
    virtual WHPluginRegistry& pluginRegistry() = 0;
    virtual WHCommandDelegate* commandDelegate() const = 0;
    virtual WHCommandQueue* commandQueue() const = 0;
};

} // namespace penwick
