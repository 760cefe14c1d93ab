#pragma once

#include "bridge/WHCommandDelegate.h"
#include "platform/Platform.h"

namespace penwick {
namespace platform {
class WebView;
}
class WHControllerInterface;

// What a plugin may use of the host, the one place it gets it from, handed to it when the
// registry creates it: its command delegate (answers, script, background work), the settings, its
// web view, the view controller and the platform services. Optional services are found by type (service<platform::Dialogs>()), so a new one is
// provided in one place, the composition root. A small value; everything it names outlives the
// plugins.
class WHPluginContext {
public:
    // A plugin made outside a view (a test, a tool) has no web view and no view controller.
    WHPluginContext(WHCommandDelegate& commandDelegate, platform::Platform& platform, platform::WebView* webView,
        WHControllerInterface* viewController = nullptr)
        : m_commandDelegate(&commandDelegate)
        , m_platform(&platform)
        , m_webView(webView)
        , m_viewController(viewController)
    {
    }

    WHCommandDelegate& commandDelegate() const { return *m_commandDelegate; }
    const Settings& settings() const { return m_commandDelegate->settings(); }
    platform::WebView* webView() const { return m_webView; }
    WHControllerInterface* viewController() const { return m_viewController; }
    platform::Scheduler& scheduler() const { return m_platform->scheduler; }
    platform::WorkQueue& workQueue() const { return m_platform->workQueue; }
    platform::AppEnvironment& environment() const { return m_platform->environment; }
    platform::UserDefaults& userDefaults() const { return m_platform->userDefaults; }
    // The service of that interface, or null when this host has none.
    template<typename Service>
    Service* service() const
    {
        return m_platform->services.find<Service>();
    }

private:
    WHCommandDelegate* m_commandDelegate;
    platform::Platform* m_platform;
    platform::WebView* m_webView;
    WHControllerInterface* m_viewController;
};

} // namespace penwick
