#pragma once

#include "base/Value.h"
#include "platform/WebViewClient.h"

namespace penwick {
namespace platform {
class WebView;
}
class WHControllerInterface;

// The native object page script calls: `hostbridge.exec(callbackId, service, action, args)`.
// One is made for every new script context; it turns each call into a command and calls the
// plugin's action at once, on the main thread, while the page waits. It keeps no state between
// calls.
class WHBridge final : public platform::ScriptBridgeObject {
public:
    // Sets the links, then registers the page helpers in `window`.
    WHBridge(platform::WebView* webView, WHControllerInterface* viewController, platform::WindowObject& window);

    // Adds the two helper scripts (HostBridgeUtil.getDictionaryKeys) to what `window` evaluates.
    void registerJavaScriptHelpers(platform::WindowObject& window);

    void exec(const Value& callbackId, const Value& service, const Value& action, const Value& arguments) override;
    void execRefused(const Value& callbackId, const std::string& why) override;

    platform::WebView* webView() const { return m_webView; }
    WHControllerInterface* viewController() const { return m_viewController; }

    static constexpr const char* kHelperScripts[] = {
        "var HostBridgeUtil = {};",
        "HostBridgeUtil.getDictionaryKeys = function(obj) { return Object.keys(obj);};",
    };
    // Logged when the fourth argument of exec is not an array; no action runs then.
    static constexpr const char* kArgumentsNotArrayError =
        "ERROR: Arguments of '%@.%@' are not an array; the call was dropped.";

private:
    platform::WebView* m_webView;
    WHControllerInterface* m_viewController;
};

} // namespace penwick
