#pragma once

#include <cstdint>
#include <string>

#include "base/Value.h"
#include "bridge/WHPluginResult.h"
#include "platform/WebViewClient.h"

namespace penwick {
namespace platform {
class WebView;
}
class WHCommandDelegate;
class WHControllerInterface;
class WHPluginRegistry;

// The native object page script calls: `hostbridge.exec(callbackId, service, action, args)`.
// One is made for every new script context; it turns each call into a command and calls the
// plugin's action at once through the plugin registry, on the main thread, while the page waits. It keeps no state between
// calls. A bridge made for a document that may not call native code refuses every call that claims
// to come from it: only a web process that disobeys the host can send one. Every call that runs no
// action is answered with an error result (a status and a text naming what was wrong), so that the
// page's callback runs.
class WHBridge final : public platform::ScriptBridgeObject {
public:
    enum class Permission { Allowed, Refused };

    // Sets the links, then registers the page helpers in `window` when calls are allowed.
    // `origin` names the window's document in the refusal's log line.
    WHBridge(platform::WebView* webView, WHControllerInterface* viewController, platform::WindowObject& window,
        Permission permission = Permission::Allowed, std::string origin = {});

    // Adds the two helper scripts (HostBridgeUtil.getDictionaryKeys) to what `window` evaluates.
    void registerJavaScriptHelpers(platform::WindowObject& window);

    void exec(Value callbackId, Value service, Value action, Value arguments) override;
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
    // Logged for a call from a document outside the application's own content; no action runs.
    static constexpr const char* kRefusedOriginError =
        "ERROR: a call to %@.%@ came from a frame of %@, which may not call native code; it was refused.";

private:
    // Sends an error result for the call, unless it asked for no answer (the page library's no-callback id) or has no id.
    void answerFailure(const Value& callbackId, CommandStatus status, const std::string& why);
    void answerRefusedOrigin(const Value& callbackId);
    std::string originName() const;

    platform::WebView* m_webView;
    WHControllerInterface* m_viewController;
    // The controller's registry and delegate, reached directly by every call.
    WHPluginRegistry* m_registry;
    WHCommandDelegate* m_delegate;
    Permission m_permission;
    std::string m_origin;
    std::uint64_t m_contextId;
};

} // namespace penwick
