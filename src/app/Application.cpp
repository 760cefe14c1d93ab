#include "app/Application.h"

#include <gio/gio.h>

#include "app/AppDelegate.h"
#include "app/MainViewController.h"
#include "app/WHPenwick.h"
#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "base/Translate.h"
#include "host/WHAppSchemeSource.h"
#include "host/WHConfigParser.h"
#include "host/WHPageLibrarySource.h"
#include "host/WHSettingsConversions.h"
#include "host/WHWebViewDelegate.h"
#include "platform/glib/GLibAppEnvironment.h"
#include "platform/glib/GLibScheduler.h"
#include "platform/glib/GLibWorkQueue.h"
#include "platform/glib/GioUrlOpener.h"
#include "platform/glib/LinuxDeviceFacts.h"
#include "plugins/device/WHDevice.h"
#include "plugins/inappbrowser/WHInAppBrowser.h"
#include "platform/glib/KeyFileUserDefaults.h"
#include "plugins/file/WHFile.h"
#include "plugins/file/WHFilesystemURLProtocol.h"

namespace penwick {
namespace {
constexpr int kLayoutWidth = 1024;
constexpr int kLayoutHeight = 768;
// The host's file plugin: its class name in config.xml.
constexpr const char* kFilePluginClass = "WHFile";

// The file plugin's folders and its reach, as the web view's delegate hands them to the web
// process. Starting it here starts it with the first web view if nothing started it before.
WHWebViewDelegate::ServedFiles servedFiles(WHViewController& controller)
{
    WHWebViewDelegate::ServedFiles served;
    auto& registry = controller.pluginRegistry();
    for (const auto& [service, className] : registry.pluginsMap()) {
        if (className != kFilePluginClass)
            continue;
        if (auto* plugin = dynamic_cast<WHFile*>(registry.getCommandInstance(service))) {
            served.folders = plugin->servedFolders();
            // Its "root" file system hands the page the whole disk through whfile: URLs.
            served.wholeDisk = plugin->fileSystems().fileSystemByName("root") != nullptr;
        }
        break;
    }
    return served;
}
} // namespace

Application::Application(platform::ApplicationHost& host, platform::AppIdentity identity, platform::LaunchOptions options)
    : m_host(host)
    , m_identity(std::move(identity))
    , m_options(std::move(options))
{
    // The host's own plugin classes; config.xml maps services to them.
    WHPluginFactory::registerClass<WHFile>(kFilePluginClass);
    WHPluginFactory::registerClass<WHDevice>("WHDevice");
    WHPluginFactory::registerClass<WHPenwick>("WHPenwick");
    WHPluginFactory::registerClass<WHInAppBrowser>("WHInAppBrowser");
}

Application::~Application() = default;

Application::OwnConfig Application::ownConfig(const std::string& resourcePath, const std::string& builtInId, IdFrom idFrom)
{
    OwnConfig own;
    own.id = builtInId;
    WHConfigParser parser;
    std::string path = resourcePath + "/config.xml";
    if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS))
        return own;
    if (auto parsed = parser.parseFile(path); !parsed)
        own.unreadable = parsed.error().message;
    else if (!parser.sawWidget())
        own.unreadable = "its config.xml has no widget element, or breaks off before it";
    own.name = parser.widgetName;
    own.version = parser.widgetVersion;
    auto preference = parser.settings.find("AppOrigin");
    own.appOrigin = asciiLowercase(parser.startPage.value_or("").substr(0, 6)) == "app://"
        || (preference != parser.settings.end() && WHSettingsConversions::boolValue(preference->second));
    if (!parser.widgetId || idFrom == IdFrom::BuiltIn)
        return own;
    // It names folders and the desktop's application: a reverse-DNS name, never a path.
    if (!g_application_id_is_valid(parser.widgetId->c_str())) {
        log::warning(format("config.xml's widget id '%@' is not an application id (like com.example.Notes); using %@",
            *parser.widgetId, builtInId));
        return own;
    }
    if (*parser.widgetId != builtInId)
        log::message(format("application id %@, from config.xml", *parser.widgetId));
    own.id = *parser.widgetId;
    return own;
}

int Application::run()
{
    int status = m_host.run(*this, m_options);
    // The host has no shutdown work: the controller, its plugins and the window live until the
    // process ends, so they are not torn down after the main loop.
    (void)m_appDelegate.release();
    return status;
}

void Application::startup()
{
    log::message(std::string("resources at ") + m_options.resourcePath);

    m_scheduler = std::make_unique<platform::GLibScheduler>();
    m_workQueue = std::make_unique<platform::GLibWorkQueue>();
    m_environment = std::make_unique<platform::GLibAppEnvironment>(m_identity.id, m_options.resourcePath);
    m_userDefaults = std::make_unique<platform::KeyFileUserDefaults>(platform::KeyFileUserDefaults::defaultPath(m_identity.id));
    m_platform = std::make_unique<platform::Platform>(*m_scheduler, *m_workQueue, *m_environment, *m_userDefaults);
    // The app origin serves the web content folder; whfile URLs the file plugin's file systems
    // (nothing until a file plugin starts). Both have the page library at the reserved path.
    m_appFiles = std::make_unique<WHAppSchemeSource>(WHAppSchemeSource::hostForApplicationId(m_identity.id), m_options.resourcePath + "/www");
    m_appSource = std::make_unique<WHPageLibrarySource>(m_appFiles->origin() + "/", *m_appFiles);
    m_host.serveFiles(m_appFiles->rules(), *m_appSource, *m_workQueue, *m_scheduler);
    m_platform->services.provide<WHFilePluginSlot>(m_filePluginSlot);
    m_fileSystems = std::make_unique<WHFilesystemURLProtocol>(m_filePluginSlot);
    m_fileSource = std::make_unique<WHPageLibrarySource>(std::string(WHFilesystemURLProtocol::kScheme) + "://localhost/", *m_fileSystems);
    // The app origin's pages load whfile URLs too: their isolation needs each answer to say that
    // other origins may embed it.
    m_host.serveFiles(platform::SchemeRules(WHFilesystemURLProtocol::kScheme,
                          { "file://", std::string(WHFilesystemURLProtocol::kScheme) + "://localhost", m_appFiles->origin() },
                          { { "Cross-Origin-Resource-Policy", "cross-origin" } }),
        *m_fileSource, *m_workQueue, *m_scheduler);

    // The main window layout: application delegate, window with a web view filling it,
    // controller, web view delegate; then the connections.
    m_appDelegate = std::make_unique<AppDelegate>();
    auto window = m_host.createMainWindow(m_identity.name, kLayoutWidth, kLayoutHeight);
    auto webView = m_host.createWebView(*window);
    if (!m_dialogs)
        m_dialogs = m_host.createDialogs(*window);
    m_platform->services.provide<platform::Dialogs>(*m_dialogs);
    m_platform->services.provide<platform::DisplayServices>(m_host.displayServices());
    m_savePanel = m_host.createSavePanel(*window);
    m_platform->services.provide<platform::SavePanel>(*m_savePanel);
    if (!m_urlOpener)
        m_urlOpener = std::make_unique<platform::GioUrlOpener>();
    m_platform->services.provide<platform::UrlOpener>(*m_urlOpener);
    m_deviceFacts = std::make_unique<platform::LinuxDeviceFacts>();
    m_platform->services.provide<platform::DeviceFacts>(*m_deviceFacts);
    m_platform->services.provide<platform::PopupWindowFactory>(m_host);
    // Who the app is, with its product web site (the login popup's landing page).
    m_platform->services.provide<platform::AppIdentity>(m_identity);
    auto controller = std::make_unique<MainViewController>(*m_platform);
    controller->setProductPages({ m_identity.websiteURL, m_identity.documentsURL, m_options.documentationPath });
    if (m_options.devURL) {
        log::message(format("this run uses the development server at %@: its origin may call native code until the app ends",
            log::withoutQueryValues(*m_options.devURL)));
        controller->setDevURL(*m_options.devURL);
    }
    m_webViewDelegate = std::make_unique<WHWebViewDelegate>(*m_dialogs);
    m_webViewDelegate->setServedFilesProvider(servedFiles);
    controller->setWindow(window.get());
    controller->setWebView(webView.get());
    controller->setWebViewDelegate(m_webViewDelegate.get());
    m_webViewDelegate->setViewController(controller.get());
    webView->setClient(m_webViewDelegate.get());
    auto developerExtras = m_options.developerExtras == platform::DeveloperExtras::On
            || m_userDefaults->boolForKey(WHWebViewDelegate::kDeveloperExtrasKey)
        ? platform::DeveloperExtras::On
        : platform::DeveloperExtras::Off;
    webView->setDeveloperExtras(developerExtras);
    m_webViewDelegate->setDeveloperExtras(developerExtras);
    // Zoom is the user's, kept for the next run; a kiosk app turns it off.
    const auto& settings = controller->settings();
    auto allowZoom = settings.find("AllowZoom");
    bool zoom = allowZoom == settings.end() || WHSettingsConversions::boolValue(allowZoom->second);
    webView->setZoom(zoom ? platform::ZoomKeys::On : platform::ZoomKeys::Off, zoom ? m_webViewDelegate->savedZoomLevel() : 1.0);
    m_host.captureWhenLoaded(*webView, m_options);
    m_appDelegate->setWindow(std::move(window));
    m_appDelegate->setWebView(std::move(webView));
    m_appDelegate->setViewController(std::move(controller));

    // Full screen on and off: F11, or a menu entry naming app.fullscreen.
    m_host.addAction("fullscreen", { "F11" }, [this] {
        if (auto* controller = m_appDelegate->viewController())
            controller->onFullscreen();
    });
    // Closing asks the page first (its leave-page question), as the window's close button does.
    m_host.addAction("close", { "<Control>q", "<Control>w" }, [this] {
        if (auto* webView = m_appDelegate->webView())
            webView->tryClose();
    });
    // The developer's keys, only with the engine's developer tools on: otherwise F5, Ctrl+R and
    // Ctrl+Shift+I stay the page's own.
    if (developerExtras == platform::DeveloperExtras::On) {
        m_host.addAction("reload", { "F5", "<Control>r" }, [this] {
            if (auto* webView = m_appDelegate->webView())
                webView->reload();
        });
        m_host.addAction("inspector", { "<Control><Shift>i" }, [this] {
            if (auto* webView = m_appDelegate->webView())
                webView->showInspector();
        });
    }

    // The application menu: the product web site and its documents page in the user's browser.
    if (!m_identity.websiteURL.empty()) {
        m_host.addAction("visitWebsite", {}, [this] {
            if (auto* controller = m_appDelegate->viewController())
                controller->visitWebsite();
        });
        m_host.addMenuItem(translate("Visit Website"), "visitWebsite");
    }
    m_host.addAction("visitHelpsite", { "F1" }, [this] {
        if (auto* controller = m_appDelegate->viewController())
            controller->visitHelpsite();
    });
    m_host.addMenuItem(translate("Documentation"), "visitHelpsite");

    m_appDelegate->viewController()->awakeFromNib();
    // Without a configuration nothing will load; a capture has nothing to wait for.
    if (!m_appDelegate->viewController()->startPage() && !m_options.devURL && m_options.capturing()) {
        log::warning(format("no config.xml in %@", m_options.resourcePath));
        m_nothingToCapture = true;
    } else if (m_appDelegate->viewController()->loadFromString()) {
        m_host.startPageFailed(m_appDelegate->viewController()->startPageNotFoundMessage());
    }
}

void Application::activate()
{
    if (m_launched) {
        if (auto* window = m_appDelegate->window())
            m_host.present(*window);
        return;
    }
    m_launched = true;
    m_appDelegate->applicationWillFinishLaunching();
    if (m_nothingToCapture)
        m_host.quit(1);
}

} // namespace penwick
