#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/WHAppContentPolicy.h"
#include "host/WHNavigationPolicy.h"

#include "platform/Dialogs.h"
#include "platform/WebView.h"
#include "platform/WebViewClient.h"

namespace penwick {

class WHBridge;
class WHConsole;
class WHViewController;

// The host web view's delegate: sets up every new script context (console everywhere; the bridge
// and the native-ready notice only where the application's content policy allows), logs the engine's console messages and every navigation, and answers the
// page's alerts, confirmations, prompts, leave-page questions and file inputs with modal dialogs.
// Main thread only.
class WHWebViewDelegate final : public platform::WebViewClient {
public:
    explicit WHWebViewDelegate(platform::Dialogs& dialogs);
    ~WHWebViewDelegate() override;
    WHWebViewDelegate(const WHWebViewDelegate&) = delete;
    WHWebViewDelegate& operator=(const WHWebViewDelegate&) = delete;

    void didClearWindowObject(platform::WindowObject& window) override;
    void addMessageToConsole(const platform::ConsoleMessage& message) override;
    // Installs the host's console in `window` unless the user default "WebKitDeveloperExtras" is
    // set or this run has developer extras on (--dev), in which case the page keeps the engine's.
    void initConsole(platform::WindowObject& window);
    void setDeveloperExtras(platform::DeveloperExtras extras) { m_developerExtras = extras; }
    platform::PolicyDecision decidePolicyForNavigation(const std::string& url) override;
    // As the navigation policy says: clicked links to other sites go to the system browser with
    // `ExternalLinks` "browser", and a drop the page did not take shows nothing.
    platform::PolicyDecision decideNavigation(const platform::NavigationRequest& request) override;
    platform::PolicyDecision decideMainFrameDocument(const std::string& url, const std::string& shownURL, platform::NavigationChooser chooser) override;
    // http(s) addresses go to the system browser; the app's own pages and other schemes are refused.
    void openNewWindow(const platform::NewWindowRequest& request) override;
    // Kept in the app's user defaults, for the next run.
    void zoomLevelChanged(double level) override;
    // The zoom level the user chose last (1 when none).
    double savedZoomLevel() const;
    bool allowsFileAccess(const std::string& url) override;
    // Decided by the app's permission policy (config.xml's preferences); denials are logged.
    platform::PermissionAnswer decidePermission(const platform::PermissionRequest& request) override;
    std::vector<std::string> appDocumentOrigins() override { return appContentPolicy().documentOrigins(); }
    platform::FileReach fileReach() override;
    // What the plugins that serve files lend the web process: their folders (for its sandbox), and
    // whether one of them already hands the page the whole disk (file: URLs then guard nothing).
    // Asked for with the first web view; which plugin that is, the composition root knows.
    struct ServedFiles {
        std::vector<std::string> folders;
        bool wholeDisk = false;
    };
    using ServedFilesProvider = std::function<ServedFiles(WHViewController&)>;
    void setServedFilesProvider(ServedFilesProvider provider) { m_servedFiles = std::move(provider); }
    bool runBeforeUnloadConfirmPanel(const std::string& message, const platform::DialogAsker& asker) override;
    // The leave-page question: the page's text, or the host's where the page gives none (it only
    // called preventDefault()), rather than two bare buttons whose default leaves.
    static std::string leavePageQuestion(const std::string& message);
    std::optional<std::vector<std::string>> runOpenPanel(
        platform::AllowMultipleFiles multiple, const std::vector<std::string>& accept, const platform::DialogAsker& asker) override;
    void runJavaScriptAlertPanel(const std::string& message, const platform::DialogAsker& asker) override;
    bool runJavaScriptConfirmPanel(const std::string& message, const platform::DialogAsker& asker) override;
    std::optional<std::string> runJavaScriptTextInputPanel(const std::string& prompt, const std::string& defaultText,
        const platform::DialogAsker& asker) override;

    const std::shared_ptr<WHConsole>& console() const { return m_console; }
    const std::shared_ptr<WHBridge>& bridge() const { return m_bridge; }
    WHViewController* viewController() const { return m_viewController; }
    void setViewController(WHViewController* viewController)
    {
        m_viewController = viewController;
        m_policy.reset();
    }
    // Made from the view controller's configuration on first use: the web content folder, the
    // start page and the `access` origins.
    const WHAppContentPolicy& appContentPolicy();

    // Evaluated in each frame when it has finished loading, sub-frames included.
    static constexpr const char* kNativeReadyScript =
        "try{webhost.require('webhost/channel').onNativeReady.fire();}catch(e){window._nativeReady = true;}";
    static constexpr const char* kDeveloperExtrasKey = "WebKitDeveloperExtras";
    static constexpr const char* kZoomLevelKey = "ZoomLevel";

    // The last path component of a URL's text ("file:///a/b/page.html" gives "page.html").
    static std::string lastPathComponent(const std::string& url);

private:
    WHNavigationPolicy navigationPolicy();
    void openInBrowser(const std::string& url);

    platform::Dialogs& m_dialogs;
    std::shared_ptr<WHConsole> m_console;
    platform::DeveloperExtras m_developerExtras = platform::DeveloperExtras::Off;
    std::shared_ptr<WHBridge> m_bridge;
    WHViewController* m_viewController = nullptr;
    std::optional<WHAppContentPolicy> m_policy;
    ServedFilesProvider m_servedFiles;
};

} // namespace penwick
