#include "bridge/WHBridge.h"

#include "bridge/WHCallbackAddress.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHCommandQueue.h"
#include "bridge/WHInvokedUrlCommand.h"
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

void WHBridge::exec(const Value& callbackId, const Value& service, const Value& action, const Value& arguments)
{
    std::string serviceName = nameOf(service).value_or("(null)");
    std::string actionName = nameOf(action).value_or("(null)");
    if (m_permission == Permission::Refused) {
        log::message(format(kRefusedOriginError, serviceName, actionName, originName()));
        answerRefusedOrigin(callbackId);
        return;
    }
    if (!arguments.is_array()) {
        log::message(format(kArgumentsNotArrayError, serviceName, actionName));
        answerFailure(callbackId, CommandStatus::JSONException,
            format("the arguments of %@.%@ are not an array", serviceName, actionName));
        return;
    }
    if (auto why = WHInvokedUrlCommand::refusalForArguments(arguments)) {
        log::message(format("ERROR: a call to %@.%@ was refused: %@.", serviceName, actionName, *why));
        execRefused(callbackId, *why);
        return;
    }
    // Plugins answer the id bound to this window's document, so the answer reaches no other.
    auto id = callbackIdOf(callbackId);
    WHInvokedUrlCommand command(arguments.get<ValueArray>(), id ? std::optional(WHCallbackAddress::bind(m_contextId, *id)) : std::nullopt,
        nameOf(service), nameOf(action));
    // The same three checks, lines and look-up as the command queue; a call that reaches no action
    // is answered too, so that the page's promise settles.
    auto dispatched = WHCommandQueue::dispatch(command, m_viewController ? m_viewController->commandDelegate() : nullptr);
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
    WHCommandDelegate* delegate = m_viewController ? m_viewController->commandDelegate() : nullptr;
    if (auto id = callbackIdOf(callbackId); id && delegate)
        delegate->sendPluginResult(WHPluginResult(static_cast<std::int32_t>(status), Value(why)),
            WHCallbackAddress::bind(m_contextId, *id));
}

} // namespace penwick
