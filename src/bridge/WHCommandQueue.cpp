#include "bridge/WHCommandQueue.h"

#include "bridge/WHControllerInterface.h"
#include "bridge/WHPluginRegistry.h"

namespace penwick {
WHCommandQueue::WHCommandQueue(WHControllerInterface& viewController) : m_viewController(&viewController) { }

WHCommandQueue::~WHCommandQueue() = default;

bool WHCommandQueue::execute(const WHInvokedUrlCommand& command)
{
    return WHPluginRegistry::dispatch(command, m_viewController ? &m_viewController->pluginRegistry() : nullptr).hasValue();
}

} // namespace penwick
