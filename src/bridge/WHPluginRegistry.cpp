#include "bridge/WHPluginRegistry.h"

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHPlugin.h"

namespace penwick {

WHPluginRegistry::WHPluginRegistry(WHControllerInterface& controller) : m_controller(controller) { }

WHPluginRegistry::~WHPluginRegistry() = default;

void WHPluginRegistry::load(std::map<std::string, std::string> pluginsMap)
{
    m_pluginsMap = std::move(pluginsMap);
    if (!m_pluginObjects)
        m_pluginObjects.emplace();
}

WHPluginContext WHPluginRegistry::context() const
{
    return WHPluginContext(*m_controller.commandDelegate(), m_controller.platform(), m_controller.webView());
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
    raw->setViewController(&m_controller);
    raw->setCommandDelegate(m_controller.commandDelegate());
    if (!m_pluginObjects)
        m_pluginObjects.emplace();
    auto& slot = (*m_pluginObjects)[className];
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

} // namespace penwick
