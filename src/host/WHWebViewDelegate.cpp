#include "host/WHWebViewDelegate.h"

#include "bridge/WHBridge.h"
#include "bridge/WHPlugin.h"
#include "host/WHConsole.h"
#include "host/WHViewController.h"
#include <algorithm>

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "platform/Platform.h"
#include "platform/UrlOpener.h"

namespace penwick {

WHWebViewDelegate::WHWebViewDelegate(platform::Dialogs& dialogs) : m_dialogs(dialogs) { }

WHWebViewDelegate::~WHWebViewDelegate() = default;

void WHWebViewDelegate::didClearWindowObject(platform::WindowObject& window)
{
    initConsole(window);
    // A srcdoc or blank frame that shares its parent's origin belongs where its parent does.
    const std::string& url = window.url.starts_with("about:") && !window.owner.empty() ? window.owner : window.url;
    auto openedBy = window.opener == platform::DocumentOpener::App ? WHAppContentPolicy::OpenedBy::App : WHAppContentPolicy::OpenedBy::Other;
    // A sandboxed document is not the app's, whatever its URL.
    bool allowed = appContentPolicy().allowsBridge(url, openedBy) && !window.opaqueOrigin;
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
    // The native-ready notice once this frame has loaded (the delegate's load-finished step).
    window.loadScript = kNativeReadyScript;
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
    if (!m_viewController)
        return reach;
    // The file plugin's "root" file system already hands the page the whole disk through whfile:
    // URLs; refusing file: URLs then would guard nothing.
    auto& registry = m_viewController->pluginRegistry();
    const auto& plugins = registry.pluginsMap();
    auto file = std::find_if(plugins.begin(), plugins.end(), [](const auto& entry) { return entry.second == "WHFile"; });
    bool filePlugin = file != plugins.end();
    // Its folders go to the sandbox with the first web view, so the file plugin starts then if
    // nothing started it before.
    if (WHPlugin* plugin = filePlugin ? registry.getCommandInstance(file->first) : nullptr)
        reach.servedFolders = plugin->servedFolders();
    const auto& settings = m_viewController->settings();
    auto extra = settings.find("osxextrafilesystems");
    std::string names = "," + asciiLowercase(extra == settings.end() ? std::string("documents,cache,bundle,root") : extra->second) + ",";
    reach.wholeDisk = filePlugin && names.find(",root,") != std::string::npos;
    return reach;
}

void WHWebViewDelegate::initConsole(platform::WindowObject& window)
{
    bool developerExtras = m_viewController && m_viewController->platform().userDefaults.boolForKey(kDeveloperExtrasKey);
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
    // The script's name keeps its query's names only: "err.js?token=…".
    log::message(format("JavaScript error: %@:%@: %@", lastPathComponent(log::withoutQueryValues(message.sourceURL)), message.lineNumber,
        message.message));
}

platform::PolicyDecision WHWebViewDelegate::decidePolicyForNavigation(const std::string& url)
{
    log::message(format("navigating to %@", log::withoutQueryValues(url)));
    return platform::PolicyDecision::Use;
}

void WHWebViewDelegate::openNewWindow(const std::string& url)
{
    std::string scheme = asciiLowercase(url.substr(0, url.find(':')));
    // Links carry tokens in their queries: the lines keep the names only.
    std::string shown = log::withoutQueryValues(url);
    if (m_viewController && appContentPolicy().isAppContent(url)) {
        log::message(format("ERROR: refused a new window for %@: the app's own pages open only in its window", shown));
        return;
    }
    if (url.find(':') == std::string::npos || (scheme != "http" && scheme != "https")) {
        log::message(format("ERROR: refused a new window for %@: only http and https addresses open in the browser", shown));
        return;
    }
    // Any frame can ask for a window: what the desktop takes from a page's call, and no more.
    if (auto why = platform::UrlOpener::refusal(url)) {
        log::message(format("ERROR: refused a new window for %@: %@", shown, *why));
        return;
    }
    auto* opener = m_viewController ? m_viewController->platform().services.find<platform::UrlOpener>() : nullptr;
    log::message(format("opening %@ in the system browser", shown));
    if (opener)
        opener->openURL(url);
}

bool WHWebViewDelegate::runBeforeUnloadConfirmPanel(const std::string& message) { return runJavaScriptConfirmPanel(message); }

std::optional<std::vector<std::string>> WHWebViewDelegate::runOpenPanel(platform::AllowMultipleFiles multiple)
{
    return m_dialogs.runOpenPanel(multiple);
}

void WHWebViewDelegate::runJavaScriptAlertPanel(const std::string& message) { m_dialogs.runAlert(message); }

bool WHWebViewDelegate::runJavaScriptConfirmPanel(const std::string& message) { return m_dialogs.runConfirm(message); }

std::optional<std::string> WHWebViewDelegate::runJavaScriptTextInputPanel(const std::string& prompt, const std::string& defaultText)
{
    return m_dialogs.runPrompt(prompt, defaultText);
}

} // namespace penwick
