#include "bridge/WHBridge.h"

#include "bridge/WHCallbackAddress.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPluginRegistry.h"
#include "bridge/WHPluginResult.h"
#include "base/Format.h"
#include "base/Log.h"

namespace penwick {
namespace {
std::optional<std::string> nameOf(const Value& v)
{
    if (v.is_string())
        return v.get<std::string>();
    return std::nullopt;
}

std::optional<std::string> takeName(Value& v)
{
    if (v.is_string())
        return std::move(v.get_ref<std::string&>());
    return std::nullopt;
}

// A callback id as the page's script library may give it: a string, or a number used as one.
std::optional<std::string> callbackIdOf(const Value& v)
{
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_number())
        return v.dump();
    return std::nullopt;
}
} // namespace

WHBridge::WHBridge(platform::WebView* webView, WHControllerInterface* viewController, platform::WindowObject& window,
    Permission permission, std::string origin)
    : m_webView(webView)
    , m_viewController(viewController)
    , m_registry(viewController ? &viewController->pluginRegistry() : nullptr)
    , m_delegate(viewController ? viewController->commandDelegate() : nullptr)
    , m_permission(permission)
    , m_origin(std::move(origin))
    , m_contextId(window.contextId)
{
    if (m_permission == Permission::Allowed)
        registerJavaScriptHelpers(window);
}

void WHBridge::registerJavaScriptHelpers(platform::WindowObject& window)
{
    for (const char* script : kHelperScripts)
        window.scripts.emplace_back(script);
}

void WHBridge::exec(Value callbackId, Value service, Value action, Value arguments)
{
    auto names = [&] { return std::pair { nameOf(service).value_or("(null)"), nameOf(action).value_or("(null)") }; };
    if (m_permission == Permission::Refused) {
        auto [serviceName, actionName] = names();
        log::message(format(kRefusedOriginError, serviceName, actionName, originName()));
        answerRefusedOrigin(callbackId);
        return;
    }
    if (!arguments.is_array()) {
        auto [serviceName, actionName] = names();
        log::message(format(kArgumentsNotArrayError, serviceName, actionName));
        answerFailure(callbackId, CommandStatus::JSONException,
            format("the arguments of %@.%@ are not an array", serviceName, actionName));
        return;
    }
    if (auto why = WHInvokedUrlCommand::refusalForArguments(arguments)) {
        auto [serviceName, actionName] = names();
        log::message(format("ERROR: a call to %@.%@ was refused: %@.", serviceName, actionName, *why));
        execRefused(callbackId, *why);
        return;
    }
    // The call carries this window's document, so its answers reach no other. The command takes
    // over the page's values: nothing of the call is copied.
    WHInvokedUrlCommand command(std::make_shared<const ValueArray>(std::move(arguments.get_ref<ValueArray&>())),
        callbackIdOf(callbackId), takeName(service), takeName(action), m_contextId);
    // A call that reaches no action is answered too, so that the page's promise settles.
    auto dispatched = WHPluginRegistry::dispatch(command, m_registry);
    if (!dispatched)
        answerFailure(callbackId, static_cast<CommandStatus>(dispatched.error().code), dispatched.error().message);
}

void WHBridge::execRefused(const Value& callbackId, const std::string& why)
{
    // A frame that may not call native code learns only that.
    if (m_permission == Permission::Refused)
        answerRefusedOrigin(callbackId);
    else
        answerFailure(callbackId, CommandStatus::Error, why);
}

std::string WHBridge::originName() const { return m_origin.empty() ? std::string("(unknown)") : m_origin; }

void WHBridge::answerRefusedOrigin(const Value& callbackId)
{
    answerFailure(callbackId, CommandStatus::IllegalAccessException, format("a frame of %@ may not call native code", originName()));
}

void WHBridge::answerFailure(const Value& callbackId, CommandStatus status, const std::string& why)
{
    if (auto id = callbackIdOf(callbackId); id && m_delegate)
        m_delegate->sendPluginResult(WHPluginResult(static_cast<std::int32_t>(status), Value(why)),
            WHCallbackAddress { m_contextId, *id });
}

} // namespace penwick
