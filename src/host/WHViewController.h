#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/WHCommandDelegate.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHPluginRegistry.h"
#include "platform/Platform.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace penwick {

class WHCommandDelegateImpl;
class WHCommandQueue;
class WHPlugin;
class WHWebViewDelegate;
class WHWindowState;

struct WindowSize {
    double width = 0;
    double height = 0;
};

// The centre of the host: owns the settings, the plugin registry, the command queue and the
// command delegate; loads the start page, applies the settings and shows the window.
// Everything here runs on the main thread.
class WHViewController : public WHControllerInterface {
public:
    explicit WHViewController(platform::Platform& platform);
    ~WHViewController() override;
    WHViewController(const WHViewController&) = delete;
    WHViewController& operator=(const WHViewController&) = delete;

    // One-time initialisation: command queue, command delegate, configuration. Run by the
    // constructor; a second call does nothing.
    void __init();
    // Reads config.xml from the resources.
    void loadSettings();
    // After the window, web view and web view delegate are connected: start page, start-up
    // plugins, web view settings.
    virtual void awakeFromNib();
    void configureWebGL(platform::WebPreferences& prefs);
    void configureLocalStorage(platform::WebPreferences& prefs);
    void configureWindowSize();
    void configureHideMousePointer();
    // Will-finish-launching: size and show the window.
    void onAppDidFinishLaunching();
    void onFullscreen();

    // The plugin registry's operations under the system's names.
    WHPlugin* getCommandInstance(const std::string& pluginName) override { return m_registry.getCommandInstance(pluginName); }
    void registerPluginWithClassName(std::unique_ptr<WHPlugin> plugin, const std::string& className);
    void registerPluginWithPluginName(std::unique_ptr<WHPlugin> plugin, const std::string& pluginName);
    WHPluginRegistry& pluginRegistry() override { return m_registry; }
    const WHPluginRegistry& pluginRegistry() const { return m_registry; }

    // Connections the window layout makes.
    void setWindow(platform::Window* window) { m_window = window; }
    // Also the web view the command delegate answers through.
    void setWebView(platform::WebView* webView);
    void setWebViewDelegate(WHWebViewDelegate* d) { m_webViewDelegate = d; }
    platform::Window* window() const { return m_window; }
    platform::WebView* webView() const override { return m_webView; }
    WHWebViewDelegate* webViewDelegate() const { return m_webViewDelegate; }

    platform::Platform& platform() const override { return m_platform; }
    WHCommandDelegate* commandDelegate() const override;
    WHCommandQueue* commandQueue() const override { return m_commandQueue.get(); }

    bool loadFromString() const { return m_loadFromString; }
    bool initialized() const { return m_initialized; }
    bool cfgFullScreen() const { return m_cfgFullScreen; }
    WindowSize cfgWindowSize() const { return m_cfgWindowSize; }
    const std::vector<std::string>& startupPluginNames() const { return m_startupPluginNames; }
    const Settings& settings() const override { return m_settings; }
    Settings& settings() { return m_settings; }
    const std::optional<std::string>& wwwFolderName() const { return m_wwwFolderName; }
    const std::optional<std::string>& startPage() const { return m_startPage; }
    // The origins config.xml's `access` elements grant ("*" grants all).
    const std::vector<std::string>& accessOrigins() const { return m_accessOrigins; }

    // A development server's page this run starts on instead of the start page (also without a
    // config.xml); the web view delegate grants its origin what a web start page's gets.
    void setDevURL(std::string url) { m_devURL = std::move(url); }
    const std::optional<std::string>& devURL() const { return m_devURL; }

    // The start URL step B resolves, or nothing when the start page is missing. The start page
    // loads from the app origin when `content src` names it ("app://<id>/index.html", the id
    // compared case-insensitively) or when the preference AppOrigin is true and `content src` is
    // relative; from the content folder's file: URL otherwise.
    std::optional<std::string> resolveStartURL() const;
    // "app://<host>": the origin serving the web content folder, the host being the application id
    // lower-cased.
    std::string appOrigin() const;
    // The message of the error page for a missing start page: in English for logs, in the user's
    // language for the page.
    enum class Wording { English, UserLanguage };
    std::string startPageNotFoundMessage(Wording wording = Wording::English) const;

    // The HideMousePointer timeout in seconds, when the setting holds one.
    std::optional<double> hideMousePointerTimeout() const { return m_hideMousePointerTimeout; }

private:
    // The start page's path on the app origin (undecoded, query and fragment kept), when it loads
    // from there.
    std::optional<std::string> appOriginStartPath() const;

    platform::Platform& m_platform;
    std::unique_ptr<WHCommandQueue> m_commandQueue;
    std::unique_ptr<WHCommandDelegateImpl> m_commandDelegate;
    bool m_loadFromString = false;
    bool m_initialized = false;
    bool m_cfgFullScreen = false;
    platform::WebView* m_webView = nullptr;
    platform::Window* m_window = nullptr;
    std::vector<std::string> m_startupPluginNames;
    Settings m_settings;
    std::optional<std::string> m_wwwFolderName;
    std::optional<std::string> m_startPage;
    std::vector<std::string> m_accessOrigins;
    std::optional<std::string> m_devURL;
    WHWebViewDelegate* m_webViewDelegate = nullptr;
    WindowSize m_cfgWindowSize;
    std::optional<double> m_hideMousePointerTimeout;
    // The user's size and place of a window the configuration does not size.
    std::unique_ptr<WHWindowState> m_windowState;
    // Last, so that plugins go before everything they were handed.
    WHPluginRegistry m_registry { *this };
};

} // namespace penwick
