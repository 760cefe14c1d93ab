#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"

namespace penwick {

class WHControllerInterface;
class WHInvokedUrlCommand;
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
    // The one way a command becomes a call of a plugin action: checks the names, finds the plugin
    // (which may create it), finds the action "name:" and calls it. Each failure is logged with its
    // fixed "ERROR: " line and answers an error whose code is the result status for the page
    // (CommandStatus) and whose message says what was wrong; without a registry no plugin is found.
    // Re-entrant from plugin actions.
    static Result<void> dispatch(const WHInvokedUrlCommand& command, WHPluginRegistry* registry);

    // The texts of the three dispatch failures.
    static constexpr const char* kNamesMissingError = "ERROR: Classname and/or methodName not found for command.";
    static constexpr const char* kPluginNotFoundError =
        "ERROR: Plugin '%@' not found, or is not a WHPlugin. Check your plugin mapping in config.xml.";
    static constexpr const char* kMethodNotDefinedError = "ERROR: Method '%@' not defined in Plugin '%@'";

    void registerPluginWithClassName(std::unique_ptr<WHPlugin> plugin, const std::string& className);
    void registerPluginWithPluginName(std::unique_ptr<WHPlugin> plugin, const std::string& pluginName);

    // The context every plugin of this host is created with.
    WHPluginContext context() const;
    WHPlugin* pluginObject(const std::string& className) const;
    const std::map<std::string, std::string>& pluginsMap() const { return m_pluginsMap; }

private:
    WHPlugin* lookUp(const std::string& pluginName);
    // Stores the plugin under `className`.
    WHPlugin* adopt(std::unique_ptr<WHPlugin> plugin, const std::string& className);

    WHControllerInterface& m_controller;
    std::map<std::string, std::string> m_pluginsMap;
    std::optional<std::map<std::string, std::unique_ptr<WHPlugin>>> m_pluginObjects;
    std::vector<std::unique_ptr<WHPlugin>> m_replacedPlugins;
    // The plugin of each service name as pages spelled it; emptied whenever a plugin or the map
    // changes.
    static constexpr std::size_t kMaxKnownNames = 64;
    std::map<std::string, WHPlugin*, std::less<>> m_byName;
};

} // namespace penwick
