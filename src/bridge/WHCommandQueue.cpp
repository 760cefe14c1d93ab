#include "bridge/WHCommandQueue.h"

#include "bridge/WHCommandDelegate.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "base/Format.h"
#include "base/Log.h"

namespace penwick {
WHCommandQueue::WHCommandQueue(WHControllerInterface& viewController) : m_viewController(&viewController) { }

WHCommandQueue::~WHCommandQueue() = default;

bool WHCommandQueue::execute(const WHInvokedUrlCommand& command)
{
    return dispatch(command, m_viewController ? m_viewController->commandDelegate() : nullptr);
}

bool WHCommandQueue::dispatch(const WHInvokedUrlCommand& command, WHCommandDelegate* commandDelegate)
{
    if (!command.cmdClassName() || !command.methodName()) {
        log::message(kNamesMissingError);
        return false;
    }
    const std::string& service = *command.cmdClassName();
    WHPlugin* plugin = commandDelegate ? commandDelegate->getCommandInstance(service) : nullptr;
    if (!plugin) {
        log::message(format(kPluginNotFoundError, service));
        return false;
    }
    std::string actionName = format("%@:", *command.methodName());
    if (!plugin->hasAction(actionName)) {
        log::message(format(kMethodNotDefinedError, actionName, service));
        return false;
    }
    plugin->invokeAction(actionName, command);
    return true;
}

} // namespace penwick
