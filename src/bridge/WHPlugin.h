#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "bridge/Reply.h"
#include "bridge/WHPluginContext.h"

namespace penwick {

class WHControllerInterface;
class WHInvokedUrlCommand;

// Base of every native plugin: links to the host, life-cycle hooks, and the actions the page can
// call, found by name in a table each plugin class fills. The page names an action without the
// colon and the host looks it up as "name:", the selector form; a table may hold either form. An
// action gets the call and its Reply, which it answers now or hands on to answer later.
// Created, used and destroyed on the main thread.
class WHPlugin {
public:
    using Action = std::function<void(WHPlugin&, const WHInvokedUrlCommand&, Reply)>;

    // A plugin class's actions by name. A class fills one table once and answers it from
    // actions(); a derived class may start from its base class's table.
    class ActionTable {
    public:
        ActionTable() = default;
        template<typename Plugin>
        ActionTable& add(std::string name, void (Plugin::*action)(const WHInvokedUrlCommand&, Reply))
        {
            static_assert(std::is_base_of_v<WHPlugin, Plugin>, "actions belong to plugin classes");
            m_actions[std::move(name)] = [action](WHPlugin& plugin, const WHInvokedUrlCommand& command, Reply reply) {
                (static_cast<Plugin&>(plugin).*action)(command, std::move(reply));
            };
            return *this;
        }
        // Nothing for a name the class does not offer.
        const Action* find(std::string_view name) const;
        size_t size() const { return m_actions.size(); }

    private:
        std::map<std::string, Action, std::less<>> m_actions;
    };

    // Keeps the context; does not call pluginInitialize (the registry does, once the
    // links are set).
    explicit WHPlugin(const WHPluginContext& context);
    virtual ~WHPlugin();
    WHPlugin(const WHPlugin&) = delete;
    WHPlugin& operator=(const WHPlugin&) = delete;

    // The plugin's class name, as the configuration's plugin map names it.
    virtual const std::string& className() const = 0;

    virtual void pluginInitialize() { }
    // Local folders whose files the plugin hands the page to load by file: URL (media plays that
    // way); the web process must be able to read them.
    virtual std::vector<std::string> servedFolders() const { return {}; }

    // The action of that name, with or without the trailing colon, or nothing. "cancel:" that
    // the class does not offer itself calls cancel() with the call's first argument.
    const Action* findAction(std::string_view name) const;

    // A streamed call (answered with keep()) that the page no longer wants, by its reply's
    // address: stop answering it. Main thread.
    virtual void cancel(const WHCallbackAddress& call) { (void)call; }

    // The host's services as the plugin was created with them; the shorthands below read the
    // same context, so a plugin's links are set before its constructor runs and never change.
    const WHPluginContext& context() const { return m_context; }
    platform::WebView* webView() const { return m_context.webView(); }
    WHControllerInterface* viewController() const { return m_context.viewController(); }
    WHCommandDelegate* commandDelegate() const { return &m_context.commandDelegate(); }

protected:
    // The class's action table; the base class offers none.
    virtual const ActionTable& actions() const;

private:
    WHPluginContext m_context;
};

// Plugin classes by name. Each plugin class registers a factory (at start-up, before the
// registry first needs it); an unknown name makes nothing.
class WHPluginFactory {
public:
    using Create = std::function<std::unique_ptr<WHPlugin>(const WHPluginContext&)>;
    static void registerClass(const std::string& className, Create create);
    template<typename Plugin>
    static void registerClass(const std::string& className)
    {
        static_assert(std::is_base_of_v<WHPlugin, Plugin>, "only plugin classes are made by name");
        registerClass(className, [](const WHPluginContext& context) { return std::make_unique<Plugin>(context); });
    }
    static std::unique_ptr<WHPlugin> create(const std::string& className, const WHPluginContext& context);
};

} // namespace penwick
