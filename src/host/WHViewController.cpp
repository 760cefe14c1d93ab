#include "host/WHViewController.h"

#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHCommandQueue.h"
#include "bridge/WHPlugin.h"
#include "display/WHCursorMonitorService.h"
#include "display/WHWindowSizeCommand.h"
#include "display/WHWindowState.h"
#include "platform/DisplayServices.h"
#include "host/WHAppSchemeSource.h"
#include "host/WHConfigParser.h"
#include "host/WHResourceLookup.h"
#include "host/WHSettingsConversions.h"
#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "base/Translate.h"
#include "base/WHURL.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace penwick {
namespace {
// Why the engine could not keep local storage in `path`, or nothing: the folder, or where it would
// be made, cannot be written. The engine fails there without a word and the page's data is lost
// when it quits.
std::optional<std::string> unwritableFolder(std::string path)
{
    if (path.empty() || path.starts_with('~'))
        return std::nullopt;
    while (true) {
        struct stat st;
        if (stat(path.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return std::string(path + " is not a folder");
            if (access(path.c_str(), W_OK | X_OK) != 0)
                return path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (errno != ENOENT)
            return path + ": " + std::strerror(errno);
        auto slash = path.find_last_of('/');
        if (slash == std::string::npos || slash == 0)
            return std::nullopt;
        path.resize(slash);
    }
}

std::string escapedHTML(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}
const std::string* setting(const Settings& settings, const char* key)
{
    auto it = settings.find(key);
    return it == settings.end() ? nullptr : &it->second;
}
} // namespace

WHViewController::WHViewController(platform::Platform& platform)
    : m_platform(platform)
{
    __init();
}

WHViewController::~WHViewController() = default;

void WHViewController::__init()
{
    if (m_initialized)
        return;
    m_commandQueue = std::make_unique<WHCommandQueue>(*this);
    m_commandDelegate = std::make_unique<WHCommandDelegateImpl>(*this);
    // Will-finish-launching reaches onAppDidFinishLaunching() through the application delegate,
    // which holds the controller for the life of the process.
    m_initialized = true;
    loadSettings();
}

WHCommandDelegate* WHViewController::commandDelegate() const { return m_commandDelegate.get(); }

void WHViewController::setWebView(platform::WebView* webView)
{
    m_webView = webView;
    m_commandDelegate->setWebView(webView);
}

void WHViewController::loadSettings()
{
    WHConfigParser parser;
    auto path = m_platform.environment.pathForResource("config", "xml", "");
    if (!path)
        return;
    // An unreadable file is left like a missing one, with its own line.
    if (auto parsed = parser.parseFile(*path); !parsed) {
        log::message(parsed.error().message);
        return;
    }
    m_registry.load(std::move(parser.pluginsDict));
    m_startupPluginNames = std::move(parser.startupPluginNames);
    m_settings = std::move(parser.settings);
    m_accessOrigins = std::move(parser.whitelistHosts);
    m_wwwFolderName = "www";
    m_startPage = parser.startPage.value_or("index.html");
}

std::string WHViewController::appOrigin() const
{
    return std::string(WHAppSchemeSource::kScheme) + "://" + WHAppSchemeSource::hostForApplicationId(m_platform.environment.bundleIdentifier());
}

std::optional<std::string> WHViewController::appOriginStartPath() const
{
    if (!m_startPage)
        return std::nullopt;
    std::string prefix = std::string(WHAppSchemeSource::kScheme) + "://";
    if (asciiLowercase(m_startPage->substr(0, prefix.size())) == prefix) {
        // Only this app's origin: its id, in any case.
        std::string rest = m_startPage->substr(prefix.size());
        size_t slash = rest.find('/');
        std::string host = rest.substr(0, slash);
        if (asciiLowercase(host) != WHAppSchemeSource::hostForApplicationId(m_platform.environment.bundleIdentifier()))
            return std::nullopt;
        return slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    }
    auto* value = setting(m_settings, "AppOrigin");
    if (m_startPage->find("://") == std::string::npos && value && WHSettingsConversions::boolValue(*value))
        return *m_startPage;
    return std::nullopt;
}

std::optional<std::string> WHViewController::resolveStartURL() const
{
    if (!m_startPage || !m_wwwFolderName)
        return std::nullopt;
    if (auto path = appOriginStartPath()) {
        // Only a page that is there: a missing one gets the host's error page, as a file: one does.
        std::string file = path->substr(0, path->find_first_of("?#"));
        auto decoded = WHURL::percentDecode(file);
        if (!decoded || decoded->empty() || !WHResourceLookup::pathForResource(m_platform.environment, *m_wwwFolderName, *decoded))
            return std::nullopt;
        return appOrigin() + "/" + *path;
    }
    if (m_startPage->find("://") != std::string::npos) {
        // Another app's origin is not served here.
        if (asciiLowercase(m_startPage->substr(0, 6)) == "app://")
            return std::nullopt;
        return *m_startPage;
    }
    if (m_wwwFolderName->find("://") != std::string::npos)
        return *m_wwwFolderName + "/" + *m_startPage;
    auto path = WHResourceLookup::pathForResource(m_platform.environment, *m_wwwFolderName, *m_startPage);
    if (!path)
        return std::nullopt;
    GUnique<char> uri(g_filename_to_uri(path->c_str(), nullptr, nullptr));
    return uri ? std::optional<std::string>(uri.get()) : std::nullopt;
}

std::string WHViewController::startPageNotFoundMessage(Wording wording) const
{
    auto words = [wording](const char* text) { return wording == Wording::UserLanguage ? translate(text) : text; };
    std::string page = m_startPage.value_or("(null)");
    if (asciiLowercase(page.substr(0, 6)) == "app://") {
        auto path = appOriginStartPath();
        if (!path)
            return format(words("ERROR: Start Page '%@' names another app's origin; this app's pages are at %@/"), page, appOrigin());
        page = *path;
    }
    return format(words("ERROR: Start Page at '%@/%@' was not found."), m_wwwFolderName.value_or("(null)"), page);
}

void WHViewController::awakeFromNib()
{
    WH_ASSERT_MAIN_THREAD(m_platform.scheduler);
    // Without a configuration there is no start page to resolve; the window shows the black
    // background and the web view stays empty.
    if (m_devURL) {
        m_webView->loadRequest(*m_devURL);
    } else if (m_startPage && m_wwwFolderName) {
        if (auto url = resolveStartURL()) {
            m_webView->loadRequest(*url);
        } else {
            std::string message = startPageNotFoundMessage();
            log::message(message);
            m_loadFromString = true;
            // Its own colours: the window behind it is black. The start page's name comes from
            // config.xml: shown as text, never as markup. A right-to-left language reads from the right.
            m_webView->loadHTMLString(format("<html dir=\"auto\"><body style=\"background:#fff;color:#000;font:16px sans-serif\"> %@ </body></html>",
                escapedHTML(startPageNotFoundMessage(Wording::UserLanguage))));
        }
    }

    for (const auto& name : std::vector<std::string>(m_startupPluginNames))
        (void)getCommandInstance(name);

    platform::WebPreferences prefs = m_webView->preferences();
    configureWebGL(prefs);
    configureLocalStorage(prefs);
    configureWindowSize();
    configureHideMousePointer();
    m_webView->setPreferences(prefs);
    m_webView->acceptAllCookies();
}

void WHViewController::configureWebGL(platform::WebPreferences& prefs)
{
    if (auto* value = setting(m_settings, "EnableWebGL"); value && WHSettingsConversions::boolValue(*value))
        prefs.webGLEnabled = true;
}

void WHViewController::configureLocalStorage(platform::WebPreferences& prefs)
{
    std::string path;
    if (auto* value = setting(m_settings, "OSXLocalStoragePath")) {
        path = *value;
    } else {
        auto support = m_platform.environment.applicationSupportDirectory();
        if (!support) {
            log::message(format("error finding app support directory %@", support.error().message));
            // The same place by name: the engine makes the folder itself if it can.
            path = m_platform.environment.userDataPath() + "/" + m_platform.environment.bundleIdentifier();
        } else {
            path = *support + "/" + m_platform.environment.bundleIdentifier();
        }
    }
    prefs.localStorageDatabasePath = path;
    prefs.localStorageEnabled = true;
    log::message(format("WebStoragePath is '%@', modify in config.xml.", path));
    // The line above is the one every host writes; this one says which setting it means.
    log::message("local storage: config.xml's preference OSXLocalStoragePath names its folder");
    if (auto why = unwritableFolder(path))
        log::warning(format("local storage cannot be kept in '%@' (%@): what pages store there is lost when the app quits", path, *why));
}

void WHViewController::configureWindowSize()
{
    m_cfgWindowSize = {};
    m_cfgFullScreen = false;
    auto* value = setting(m_settings, "WindowSize");
    if (!value)
        return;
    if (WHSettingsConversions::isFullScreen(*value)) {
        m_cfgFullScreen = true;
        return;
    }
    if (auto size = WHSettingsConversions::windowSize(*value)) {
        m_cfgWindowSize = *size;
        return;
    }
    log::message(format("ERROR: WindowSize '%@' is neither W x H (each from 1 to %@) nor fullscreen; the window keeps its size",
        *value, WHSettingsConversions::kMaxWindowSide));
}

void WHViewController::configureHideMousePointer()
{
    auto* value = setting(m_settings, "HideMousePointer");
    if (!value)
        return;
    m_hideMousePointerTimeout = WHSettingsConversions::nonNegativeSeconds(*value);
    if (!m_hideMousePointerTimeout) {
        log::message(format("ERROR: HideMousePointer '%@' is not a number of seconds (0 or more); the pointer is not hidden", *value));
        return;
    }
    if (auto* display = m_platform.services.find<platform::DisplayServices>())
        WHCursorMonitorService::service(display->pointer, display->clock).startWithTimeout(*m_hideMousePointerTimeout);
}

void WHViewController::onAppDidFinishLaunching()
{
    WH_ASSERT_MAIN_THREAD(m_platform.scheduler);
    if (m_window) {
        auto* display = m_platform.services.find<platform::DisplayServices>();
        if (m_cfgFullScreen && display)
            WHWindowSizeCommand::makeFullScreen(*m_window, display->screens);
        else if (m_cfgWindowSize.height > 0 && m_cfgWindowSize.width > 0)
            WHWindowSizeCommand::setSizeOfWindow(*m_window, { m_cfgWindowSize.width, m_cfgWindowSize.height });
        else if (display) {
            m_windowState = std::make_unique<WHWindowState>(*m_window, m_platform.userDefaults, display->screens);
            m_windowState->restore();
        }
        m_window->setBackgroundColor({ 0, 0, 0, 1 });
        m_webView->setDrawsBackground(platform::DrawsBackground::No);
        m_window->showAndMakeKey();
        m_window->activateApplication();
        if (m_windowState)
            m_windowState->track();
    }
}

void WHViewController::onFullscreen()
{
    auto* display = m_platform.services.find<platform::DisplayServices>();
    if (m_window && display)
        WHWindowSizeCommand::toggleFullScreen(*m_window, display->screens);
}

void WHViewController::registerPluginWithClassName(std::unique_ptr<WHPlugin> plugin, const std::string& className)
{
    m_registry.registerPluginWithClassName(std::move(plugin), className);
}

void WHViewController::registerPluginWithPluginName(std::unique_ptr<WHPlugin> plugin, const std::string& pluginName)
{
    m_registry.registerPluginWithPluginName(std::move(plugin), pluginName);
}

} // namespace penwick
