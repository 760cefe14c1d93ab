#include "bridge/WHPluginRegistry.h"

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "bridge/WHPluginResult.h"

namespace penwick {

WHPluginRegistry::WHPluginRegistry(WHControllerInterface& controller) : m_controller(controller) { }

WHPluginRegistry::~WHPluginRegistry() = default;

void WHPluginRegistry::load(std::map<std::string, std::string> pluginsMap)
{
    m_pluginsMap = std::move(pluginsMap);
    m_byName.clear();
    if (!m_pluginObjects)
        m_pluginObjects.emplace();
}

WHPluginContext WHPluginRegistry::context() const
{
    return WHPluginContext(*m_controller.commandDelegate(), m_controller.platform(), m_controller.webView(), &m_controller);
}

WHPlugin* WHPluginRegistry::pluginObject(const std::string& className) const
{
    if (!m_pluginObjects)
        return nullptr;
    auto it = m_pluginObjects->find(className);
    return it == m_pluginObjects->end() ? nullptr : it->second.get();
}

WHPlugin* WHPluginRegistry::getCommandInstance(const std::string& pluginName)
{
    // Pages name a service the same way call after call: that name finds its plugin at once.
    if (auto known = m_byName.find(pluginName); known != m_byName.end())
        return known->second;
    WHPlugin* plugin = lookUp(pluginName);
    if (plugin) {
        // Bounded: a page spelling a name in ever new cases only makes the slow way taken.
        if (m_byName.size() >= kMaxKnownNames)
            m_byName.clear();
        m_byName.emplace(pluginName, plugin);
    }
    return plugin;
}

WHPlugin* WHPluginRegistry::lookUp(const std::string& pluginName)
{
    auto mapped = m_pluginsMap.find(asciiLowercase(pluginName));
    if (mapped == m_pluginsMap.end())
        return nullptr;
    const std::string className = mapped->second;
    if (auto* existing = pluginObject(className))
        return existing;
    auto plugin = WHPluginFactory::create(className, context());
    if (!plugin) {
        log::message(format("WHPlugin class %@ (pluginName: %@) does not exist.", className, pluginName));
        return nullptr;
    }
    WHPlugin* raw = plugin.get();
    registerPluginWithClassName(std::move(plugin), className);
    return raw;
}

WHPlugin* WHPluginRegistry::adopt(std::unique_ptr<WHPlugin> plugin, const std::string& className)
{
    WHPlugin* raw = plugin.get();
    if (!m_pluginObjects)
        m_pluginObjects.emplace();
    auto& slot = (*m_pluginObjects)[className];
    m_byName.clear();
    // Plugins are never released while the host runs, and a replaced one may still be running.
    if (slot)
        m_replacedPlugins.push_back(std::move(slot));
    slot = std::move(plugin);
    return raw;
}

void WHPluginRegistry::registerPluginWithClassName(std::unique_ptr<WHPlugin> plugin, const std::string& className)
{
    adopt(std::move(plugin), className)->pluginInitialize();
}

void WHPluginRegistry::registerPluginWithPluginName(std::unique_ptr<WHPlugin> plugin, const std::string& pluginName)
{
    std::string className = plugin->className();
    WHPlugin* raw = adopt(std::move(plugin), className);
    m_pluginsMap[asciiLowercase(pluginName)] = className;
    raw->pluginInitialize();
}

Result<void> WHPluginRegistry::dispatch(const WHInvokedUrlCommand& command, WHPluginRegistry* registry)
{
    if (!command.cmdClassName() || !command.methodName()) {
        log::message(kNamesMissingError);
        return Error { static_cast<int>(CommandStatus::InvalidAction), "the call names no service or no action" };
    }
    const std::string& service = *command.cmdClassName();
    WHPlugin* plugin = registry ? registry->getCommandInstance(service) : nullptr;
    if (!plugin) {
        log::message(format(kPluginNotFoundError, service));
        return Error { static_cast<int>(CommandStatus::ClassNotFoundException),
            format("no plugin serves '%@': config.xml maps no such service, or its class does not exist", service) };
    }
    // Short action names stay in the string's own storage: no allocation per call.
    std::string actionName;
    actionName.reserve(command.methodName()->size() + 1);
    actionName += *command.methodName();
    actionName += ':';
    const WHPlugin::Action* action = plugin->findAction(actionName);
    if (!action) {
        log::message(format(kMethodNotDefinedError, actionName, service));
        return Error { static_cast<int>(CommandStatus::InvalidAction),
            format("the plugin of '%@' has no action '%@'", service, *command.methodName()) };
    }
    (*action)(*plugin, command, Reply(plugin->context().commandDelegate(), command.address()));
    return {};
}

} // namespace penwick
