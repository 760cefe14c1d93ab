#include "host/WHWebViewDelegate.h"

#include "bridge/WHBridge.h"
#include "bridge/WHPlugin.h"
#include "host/WHConsole.h"
#include "host/WHPermissionPolicy.h"
#include "host/WHViewController.h"
#include <algorithm>
#include <charconv>

#include "base/Format.h"
#include "base/Log.h"
#include "base/Translate.h"
#include "platform/Platform.h"
#include "platform/UrlOpener.h"

namespace penwick {

WHWebViewDelegate::WHWebViewDelegate(platform::Dialogs& dialogs) : m_dialogs(dialogs) { }

WHWebViewDelegate::~WHWebViewDelegate() = default;

void WHWebViewDelegate::didClearWindowObject(platform::WindowObject& window)
{
    initConsole(window);
    // A srcdoc or blank frame that shares its parent's origin belongs where its parent does. Only a
    // sub-frame has a parent: an owner named for a main frame is the web process's word alone.
    const std::string& url = window.url.starts_with("about:") && !window.owner.empty() && !window.mainFrame ? window.owner : window.url;
    auto openedBy = window.opener == platform::DocumentOpener::App ? WHAppContentPolicy::OpenedBy::App : WHAppContentPolicy::OpenedBy::Other;
    // The engine lets only local documents frame a URL of the app's schemes, so such a frame in a
    // page that is not the app's is a web process speaking for a document it cannot have.
    bool foreignLocalFrame = !window.mainFrame && openedBy == WHAppContentPolicy::OpenedBy::Other && WHAppContentPolicy::isLocalURL(url);
    // A sandboxed document is not the app's, whatever its URL.
    bool allowed = !foreignLocalFrame && appContentPolicy().allowsBridge(url, openedBy) && !window.opaqueOrigin;
    window.appContent = allowed && appContentPolicy().isAppDocument(url, openedBy);
    // Each window object keeps the bridge set on it; the delegate remembers the latest. A window
    // outside the policy sees no bridge; the host keeps one that refuses whatever claims to come
    // from that window.
    m_bridge = std::make_shared<WHBridge>(m_viewController ? m_viewController->webView() : nullptr, m_viewController, window,
        allowed ? WHBridge::Permission::Allowed : WHBridge::Permission::Refused, WHAppContentPolicy::originOf(url));
    window.hostbridge = m_bridge;
    if (!allowed) {
        window.bridgeExposure = platform::BridgeExposure::Withheld;
        return;
    }
    if (window.appContent)
        window.scripts.push_back(WHPermissionPolicy::kNotificationPermissionScript);
    // The native-ready notice once this frame has loaded (the delegate's load-finished step).
    window.loadScript = kNativeReadyScript;
}

platform::PermissionAnswer WHWebViewDelegate::decidePermission(const platform::PermissionRequest& request)
{
    auto policy = m_viewController ? WHPermissionPolicy::fromSettings(m_viewController->settings())
                                   : WHPermissionPolicy(WHPermissionPolicy::Geolocation::Denied, WHPermissionPolicy::MediaCapture::Denied);
    auto decision = policy.decide(request);
    if (!decision.logLine.empty())
        log::message(decision.logLine);
    return decision.answer;
}

const WHAppContentPolicy& WHWebViewDelegate::appContentPolicy()
{
    if (!m_policy) {
        std::string folder;
        std::optional<std::string> startURL;
        std::vector<std::string> access;
        std::string appOrigin;
        if (m_viewController) {
            folder = m_viewController->platform().environment.resourcePath() + "/" + m_viewController->wwwFolderName().value_or("www");
            // A run on a development server grants that server's origin in place of the start page's.
            startURL = m_viewController->devURL() ? m_viewController->devURL() : m_viewController->resolveStartURL();
            access = m_viewController->accessOrigins();
            appOrigin = m_viewController->appOrigin();
        }
        m_policy.emplace(std::move(folder), std::move(startURL), std::move(access), std::move(appOrigin));
    }
    return *m_policy;
}

bool WHWebViewDelegate::allowsFileAccess(const std::string& url) { return appContentPolicy().isAppContent(url); }

platform::FileReach WHWebViewDelegate::fileReach()
{
    platform::FileReach reach { appContentPolicy().contentFolder(), false, {} };
    if (!m_viewController || !m_servedFiles)
        return reach;
    auto served = m_servedFiles(*m_viewController);
    reach.servedFolders = std::move(served.folders);
    reach.wholeDisk = served.wholeDisk;
    return reach;
}

void WHWebViewDelegate::initConsole(platform::WindowObject& window)
{
    bool developerExtras = m_developerExtras == platform::DeveloperExtras::On
        || (m_viewController && m_viewController->platform().userDefaults.boolForKey(kDeveloperExtrasKey));
    if (developerExtras)
        return;
    if (!m_console)
        m_console = std::make_shared<WHConsole>();
    window.console = m_console;
}

std::string WHWebViewDelegate::lastPathComponent(const std::string& url)
{
    size_t end = url.size();
    while (end > 1 && url[end - 1] == '/')
        --end;
    if (end == 1 && url[0] == '/')
        return "/";
    size_t slash = url.rfind('/', end ? end - 1 : 0);
    if (slash == std::string::npos || end == 0)
        return url.substr(0, end);
    return url.substr(slash + 1, end - slash - 1);
}

void WHWebViewDelegate::addMessageToConsole(const platform::ConsoleMessage& message)
{
    // Only errors read as errors: a page's console.log is not one. The script's name keeps its
    // query's names only: "err.js?token=…".
    auto source = lastPathComponent(log::withoutQueryValues(message.sourceURL));
    if (message.level == platform::ConsoleLevel::Error) {
        log::message(format("JavaScript error: %@:%@: %@", source, message.lineNumber, message.message));
        return;
    }
    static constexpr const char* kNames[] = { "log", "trace", "debug", "info", "warn" };
    log::message(format("console %@: %@:%@: %@", kNames[static_cast<int>(message.level)], source, message.lineNumber, message.message));
}

platform::PolicyDecision WHWebViewDelegate::decidePolicyForNavigation(const std::string& url)
{
    log::message(format("navigating to %@", log::withoutQueryValues(url)));
    return platform::PolicyDecision::Use;
}

WHNavigationPolicy WHWebViewDelegate::navigationPolicy()
{
    std::optional<std::string> links;
    if (m_viewController) {
        const auto& settings = m_viewController->settings();
        if (auto it = settings.find("ExternalLinks"); it != settings.end())
            links = it->second;
    }
    return WHNavigationPolicy(appContentPolicy(), WHNavigationPolicy::externalLinksFrom(links));
}

platform::PolicyDecision WHWebViewDelegate::decideNavigation(const platform::NavigationRequest& request)
{
    auto verdict = navigationPolicy().navigation(request);
    log::message(verdict.line);
    if (verdict.action == WHNavigationPolicy::Action::Browser)
        openInBrowser(request.url);
    return verdict.action == WHNavigationPolicy::Action::Load ? platform::PolicyDecision::Use : platform::PolicyDecision::Ignore;
}

platform::PolicyDecision WHWebViewDelegate::decideMainFrameDocument(const std::string& url, const std::string& shownURL,
    platform::NavigationChooser chooser)
{
    auto verdict = navigationPolicy().mainFrameDocument(url, shownURL, chooser);
    if (verdict.action == WHNavigationPolicy::Action::Load)
        return platform::PolicyDecision::Use;
    log::message(verdict.line);
    if (verdict.action == WHNavigationPolicy::Action::Browser)
        openInBrowser(url);
    return platform::PolicyDecision::Ignore;
}

void WHWebViewDelegate::openNewWindow(const platform::NewWindowRequest& request)
{
    auto verdict = navigationPolicy().newWindow(request);
    log::message(verdict.line);
    if (verdict.action == WHNavigationPolicy::Action::Browser)
        openInBrowser(request.url);
}

void WHWebViewDelegate::openInBrowser(const std::string& url)
{
    if (auto* opener = m_viewController ? m_viewController->platform().services.find<platform::UrlOpener>() : nullptr)
        opener->openURL(url);
}

void WHWebViewDelegate::zoomLevelChanged(double level)
{
    if (!m_viewController)
        return;
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, level).ptr;
    if (auto saved = m_viewController->platform().userDefaults.setString(kZoomLevelKey, std::string(text, end)); !saved)
        log::message(format("the zoom level was not kept for the next run: %@", saved.error().message));
}

double WHWebViewDelegate::savedZoomLevel() const
{
    auto text = m_viewController ? m_viewController->platform().userDefaults.stringForKey(kZoomLevelKey) : std::nullopt;
    double level = 1.0;
    if (!text || std::from_chars(text->data(), text->data() + text->size(), level).ec != std::errc() || !(level >= 0.25 && level <= 5))
        return 1.0;
    return level;
}

std::string WHWebViewDelegate::leavePageQuestion(const std::string& message)
{
    return message.empty() ? translate("Leave this page? Changes you made may not be saved.") : message;
}

bool WHWebViewDelegate::runBeforeUnloadConfirmPanel(const std::string& message, const platform::DialogAsker& asker)
{
    return runJavaScriptConfirmPanel(leavePageQuestion(message), asker);
}

std::optional<std::vector<std::string>> WHWebViewDelegate::runOpenPanel(
    platform::AllowMultipleFiles multiple, const std::vector<std::string>& accept, const platform::DialogAsker& asker)
{
    return m_dialogs.runOpenPanel(multiple, accept, asker);
}

void WHWebViewDelegate::runJavaScriptAlertPanel(const std::string& message, const platform::DialogAsker& asker)
{
    m_dialogs.runAlert(message, asker);
}

bool WHWebViewDelegate::runJavaScriptConfirmPanel(const std::string& message, const platform::DialogAsker& asker)
{
    return m_dialogs.runConfirm(message, asker);
}

std::optional<std::string> WHWebViewDelegate::runJavaScriptTextInputPanel(const std::string& prompt, const std::string& defaultText,
    const platform::DialogAsker& asker)
{
    return m_dialogs.runPrompt(prompt, defaultText, asker);
}

} // namespace penwick
