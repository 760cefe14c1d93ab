#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace penwick {

class WHControllerInterface;
class WHPlugin;
class WHPluginContext;

// Turns the service names page script uses into the one plugin instance of each class, created
// on first use with the host's plugin context. Instances live as long as the registry; a replaced
// one is kept alive too (it may be replaced from inside its own action). Main thread only.
class WHPluginRegistry {
public:
    explicit WHPluginRegistry(WHControllerInterface& controller);
    ~WHPluginRegistry();
    WHPluginRegistry(const WHPluginRegistry&) = delete;
    WHPluginRegistry& operator=(const WHPluginRegistry&) = delete;

    // The configuration's plugin map (lower-cased service name to class name); opens the registry
    // for instances. Before this, every look-up answers null.
    void load(std::map<std::string, std::string> pluginsMap);

    // The instance for a service name of any case, created (and initialised) on first use; null
    // for an unmapped name, and with the "does not exist" line for a class nobody registered.
    WHPlugin* getCommandInstance(const std::string& pluginName);
    void registerPluginWithClassName(std::unique_ptr<WHPlugin> plugin, const std::string& className);
    void registerPluginWithPluginName(std::unique_ptr<WHPlugin> plugin, const std::string& pluginName);

    // The context every plugin of this host is created with.
    WHPluginContext context() const;
    bool hasPluginObjects() const { return m_pluginObjects.has_value(); }
    WHPlugin* pluginObject(const std::string& className) const;
    const std::map<std::string, std::string>& pluginsMap() const { return m_pluginsMap; }

private:
    // Sets the plugin's links and stores it under `className`.
    WHPlugin* adopt(std::unique_ptr<WHPlugin> plugin, const std::string& className);

    WHControllerInterface& m_controller;
    std::map<std::string, std::string> m_pluginsMap;
    std::optional<std::map<std::string, std::unique_ptr<WHPlugin>>> m_pluginObjects;
    std::vector<std::unique_ptr<WHPlugin>> m_replacedPlugins;
};

} // namespace penwick
