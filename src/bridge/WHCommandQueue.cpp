#include "bridge/WHCommandQueue.h"

#include "bridge/WHCommandDelegate.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "bridge/WHPluginResult.h"
#include "base/Format.h"
#include "base/Log.h"

namespace penwick {
WHCommandQueue::WHCommandQueue(WHControllerInterface& viewController) : m_viewController(&viewController) { }

WHCommandQueue::~WHCommandQueue() = default;

bool WHCommandQueue::execute(const WHInvokedUrlCommand& command)
{
    return dispatch(command, m_viewController ? m_viewController->commandDelegate() : nullptr).hasValue();
}

Result<void> WHCommandQueue::dispatch(const WHInvokedUrlCommand& command, WHCommandDelegate* commandDelegate)
{
    if (!command.cmdClassName() || !command.methodName()) {
        log::message(kNamesMissingError);
        return Error { static_cast<int>(CommandStatus::InvalidAction), "the call names no service or no action" };
    }
    const std::string& service = *command.cmdClassName();
    WHPlugin* plugin = commandDelegate ? commandDelegate->getCommandInstance(service) : nullptr;
    if (!plugin) {
        log::message(format(kPluginNotFoundError, service));
        return Error { static_cast<int>(CommandStatus::ClassNotFoundException),
            format("no plugin serves '%@': config.xml maps no such service, or its class does not exist", service) };
    }
    std::string actionName = format("%@:", *command.methodName());
    if (!plugin->hasAction(actionName)) {
        log::message(format(kMethodNotDefinedError, actionName, service));
        return Error { static_cast<int>(CommandStatus::InvalidAction),
            format("the plugin of '%@' has no action '%@'", service, *command.methodName()) };
    }
    plugin->invokeAction(actionName, command);
    return {};
}

} // namespace penwick
