#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace penwick {
namespace platform {
class WebView;
}

class WHCommandDelegate;
class WHInvokedUrlCommand;
class WHViewController;

// Base of every native plugin: links to the host, life-cycle hooks, and a table of actions
// found by name ("name:" with the colon).
// (Skeleton; the bridge core fills in notifications and the action table.)
class WHPlugin {
public:
    explicit WHPlugin(platform::WebView* webView);
    virtual ~WHPlugin();
    WHPlugin(const WHPlugin&) = delete;
    WHPlugin& operator=(const WHPlugin&) = delete;

    // The plugin's class name, as config.xml's package params name it.
    virtual const std::string& className() const = 0;

    virtual void pluginInitialize() { }
    virtual void dispose();
    virtual void onAppTerminate() { }
    virtual void onMemoryWarning() { }
    virtual void onReset() { }

    platform::WebView* webView() const { return m_webView; }
    WHViewController* viewController() const { return m_viewController; }
    void setViewController(WHViewController* vc) { m_viewController = vc; }
    WHCommandDelegate* commandDelegate() const { return m_commandDelegate; }
    void setCommandDelegate(WHCommandDelegate* d) { m_commandDelegate = d; }

private:
    platform::WebView* m_webView = nullptr;
    WHViewController* m_viewController = nullptr;
    WHCommandDelegate* m_commandDelegate = nullptr;
};

// Plugin classes by name. Each plugin class registers a factory; an unknown name makes nothing.
class WHPluginFactory {
public:
    using Create = std::function<std::unique_ptr<WHPlugin>(platform::WebView*)>;
    static void registerClass(const std::string& className, Create create);
    static std::unique_ptr<WHPlugin> create(const std::string& className, platform::WebView* webView);
};

} // namespace penwick
