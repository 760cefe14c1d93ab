#include "platform/gtk/GtkApplicationHost.h"
#include "platform/gtk/GtkEngineContext.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <vector>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include "BuildConfig.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "base/LogIdentity.h"
#include "base/Translate.h"
#include "platform/DevServerURL.h"
#include "platform/gtk/GtkChannelServer.h"
#include "platform/gtk/GtkDesktopColorScheme.h"
#include "platform/gtk/GtkDialogs.h"
#include "platform/gtk/GtkFileScheme.h"
#include "platform/gtk/GtkMainWindow.h"
#include "platform/gtk/GtkModalDialogs.h"
#include "platform/gtk/GtkPointer.h"
#include "platform/gtk/GtkPopupWindow.h"
#include "platform/gtk/GtkSavePanel.h"
#include "platform/gtk/GtkScreens.h"
#include "platform/glib/GLibClock.h"
#include "platform/glib/InstanceLock.h"
#include "platform/gtk/GtkStorageFeatures.h"
#include "platform/gtk/GtkWebView.h"
#include "platform/gtk/GtkDisplayScale.h"
#include "platform/gtk/GtkX11Errors.h"

namespace penwick::platform {
namespace {

// How long a capture waits for the start page to load at most (the web process may be slow to start).
constexpr unsigned kCaptureLoadSeconds = 60;
constexpr double kMaxCaptureTimeout = 3600;

// Settles once the page has: its load event, its fonts, two animation frames, and the promise the
// page may put in `window.penwickCaptureReady` (a page that draws after loading data says so).
constexpr const char* kSettleScript = "return new Promise(function (resolve) {"
                                      "  function frames() {"
                                      "    requestAnimationFrame(function () { requestAnimationFrame(function () { resolve(true); }); });"
                                      "  }"
                                      "  function loaded() {"
                                      "    var fonts = document.fonts && document.fonts.ready ? document.fonts.ready : null;"
                                      "    Promise.all([fonts, window.penwickCaptureReady]).then(frames, frames);"
                                      "  }"
                                      "  if (document.readyState === 'complete') loaded();"
                                      "  else window.addEventListener('load', loaded, { once: true });"
                                      "});";

// Where this executable finds its resources and the extension; set once, from the command line's
// parse, before anything reads it.
std::optional<InstallLayout>& installLayout()
{
    static std::optional<InstallLayout> s_layout;
    return s_layout;
}

} // namespace

struct GtkApplicationHost::State {
    GRef<GtkApplication> app;
    ApplicationLifecycle* lifecycle = nullptr;
    GtkScreens screens;
    GtkPointer pointer;
    GLibClock clock;
    DisplayServices display { screens, pointer, clock };
    // Handlers of the application's actions, for as long as the application lives.
    std::vector<std::unique_ptr<std::function<void()>>> actions;
    // The application menu, shown by desktops that show application menus.
    GRef<GMenu> menu;
    bool started = false;
    int exitCode = 0;
    std::string applicationId;
    // Held while this instance runs; why not, when another instance holds it.
    std::optional<InstanceLock> instanceLock;
    std::string lockError;
    std::unique_ptr<GtkDesktopColorScheme> colorScheme;
    // SIGTERM, SIGINT and SIGHUP end the host the normal way, so that shutdown removes its socket.
    unsigned signalSources[3] = {};

    // The captures of the test options: the page to capture, what is still being written.
    LaunchOptions captureOptions;
    GtkWebView* captureView = nullptr;
    GRef<GCancellable> captureCancellable;
    bool captureStarted = false;
    int capturesPending = 0;
    unsigned captureTimeout = 0;
    unsigned settleTimeout = 0;
    bool settling = false;
    // Why the start page could not be shown; the capture then ends with 1.
    std::optional<std::string> startPageFailure;

    ~State()
    {
        if (captureTimeout)
            g_source_remove(captureTimeout);
        if (settleTimeout)
            g_source_remove(settleTimeout);
        stopWatchingSignals();
    }

    // Once the sources are gone the signals take their default action again: a host that does not
    // end after the first one still ends on the second.
    void stopWatchingSignals()
    {
        for (unsigned& source : signalSources) {
            if (source)
                g_source_remove(source);
            source = 0;
        }
    }

    void quit(int code)
    {
        exitCode = code;
        // The main loop ends only once the loops of open dialogs have returned to it.
        GtkModalDialogs::endAll();
        if (app)
            g_application_quit(G_APPLICATION(app.get()));
    }

    // One capture is written (or failed); the process ends when none is left.
    void captureDone(bool ok)
    {
        if (!ok)
            exitCode = 1;
        if (--capturesPending == 0)
            quit(exitCode);
    }

    void settle(std::optional<std::string> loadFailure);
    void writeCaptures();
};

void GtkApplicationHost::State::settle(std::optional<std::string> loadFailure)
{
    if (loadFailure && !startPageFailure) {
        startPageFailure = "the start page could not be loaded: " + *loadFailure;
        std::fprintf(stderr, "penwick: %s\n", startPageFailure->c_str());
    }
    if (settling)
        return;
    settling = true;
    if (captureTimeout)
        g_source_remove(captureTimeout);
    captureTimeout = 0;
    settleTimeout = g_timeout_add(static_cast<guint>(captureOptions.captureTimeout * 1000), +[](gpointer data) -> gboolean {
        auto& state = *static_cast<State*>(data);
        state.settleTimeout = 0;
        std::fprintf(stderr, "penwick: the page did not settle within %g s; captured as it was\n", state.captureOptions.captureTimeout);
        state.writeCaptures();
        return G_SOURCE_REMOVE;
    }, this);
    webkit_web_view_call_async_javascript_function(captureView->view(), kSettleScript, -1, nullptr, nullptr, nullptr,
        captureCancellable.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            GUnique<GError> error;
            GRef<JSCValue> value = adopt(webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr()));
            if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
                return;
            // A page whose script broke the wait is captured as it is.
            static_cast<State*>(data)->writeCaptures();
        },
        this);
}

void GtkApplicationHost::State::writeCaptures()
{
    if (captureStarted)
        return;
    captureStarted = true;
    if (settleTimeout)
        g_source_remove(settleTimeout);
    settleTimeout = 0;
    if (startPageFailure)
        exitCode = 1;
    WebKitWebView* view = captureView->view();
    capturesPending = (captureOptions.dumpDomPath ? 1 : 0) + (captureOptions.screenshotPath ? 1 : 0);
    if (captureOptions.dumpDomPath) {
        webkit_web_view_evaluate_javascript(view, "document.documentElement.outerHTML", -1, nullptr, nullptr,
            captureCancellable.get(),
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto& state = *static_cast<State*>(data);
                GUnique<GError> error;
                GRef<JSCValue> value = adopt(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr()));
                if (!value) {
                    std::fprintf(stderr, "penwick: could not read the page: %s\n", error ? error->message : "");
                    state.captureDone(false);
                    return;
                }
                GUnique<char> html(jsc_value_to_string(value.get()));
                const std::string& path = *state.captureOptions.dumpDomPath;
                if (!g_file_set_contents(path.c_str(), html.get(), -1, &error.outPtr())) {
                    std::fprintf(stderr, "penwick: could not write %s: %s\n", path.c_str(), error->message);
                    state.captureDone(false);
                    return;
                }
                state.captureDone(true);
            },
            this);
    }
    if (captureOptions.screenshotPath) {
        webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
            captureCancellable.get(),
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto& state = *static_cast<State*>(data);
                GUnique<GError> error;
                cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr());
                if (!surface) {
                    std::fprintf(stderr, "penwick: screenshot failed: %s\n", error ? error->message : "");
                    state.captureDone(false);
                    return;
                }
                const std::string& path = *state.captureOptions.screenshotPath;
                cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
                cairo_surface_destroy(surface);
                if (status != CAIRO_STATUS_SUCCESS) {
                    std::fprintf(stderr, "penwick: could not write %s: %s\n", path.c_str(), cairo_status_to_string(status));
                    state.captureDone(false);
                    return;
                }
                state.captureDone(true);
            },
            this);
    }
}

GtkApplicationHost::GtkApplicationHost(AppIdentity identity)
    : m_identity(std::move(identity))
    , m_state(std::make_unique<State>())
{
    log::identifyAs(m_identity.id);
    // Without a session bus the desktop's settings store cannot be written, and every file chooser
    // (which keeps its own settings) would log its failures: settings then stay in memory for the
    // run. Set while the process has one thread; a backend the user chose wins.
    const char* bus = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    GUnique<char> runtimeBus(g_build_filename(g_get_user_runtime_dir(), "bus", nullptr));
    GUnique<char> launcher(g_find_program_in_path("dbus-launch"));
    if (bus ? !*bus : !g_file_test(runtimeBus.get(), G_FILE_TEST_EXISTS) && !(launcher && g_getenv("DISPLAY")))
        g_setenv("GSETTINGS_BACKEND", "memory", FALSE);
    // A Wayland launcher's activation token: GTK takes it as the startup id, focusing the first
    // window with it, or handing it with a second launch's command line to the running instance,
    // which focuses its window with it as on X11. Not passed on to the processes the app starts.
    if (const char* token = g_getenv("XDG_ACTIVATION_TOKEN"); token && *token)
        g_setenv("DESKTOP_STARTUP_ID", token, FALSE);
    g_unsetenv("XDG_ACTIVATION_TOKEN");
}

GtkApplicationHost::~GtkApplicationHost() = default;

GtkApplicationHost::CommandLine GtkApplicationHost::parseCommandLine(int argc, char** argv, const AppIdentity& identity)
{
    std::vector<std::string> arguments(argv, argv + argc);
    installLayout().emplace(InstallLayout::currentExecutable(),
        InstallLayout::Locations { identity.dataDir, identity.webExtensionDir, build::kBinaryDir,
            identity.buildResourceDir, build::kBuildWebExtensionDir, identity.docDir, identity.buildDocDir });
    char* resources = nullptr;
    char* screenshot = nullptr;
    char* dumpDom = nullptr;
    char* devURL = nullptr;
    double captureTimeout = LaunchOptions {}.captureTimeout;
    gboolean version = FALSE;
    gboolean dev = FALSE;
    GOptionEntry entries[] = {
        { "resources", 0, 0, G_OPTION_ARG_FILENAME, &resources, "Folder holding config.xml and www/", "DIR" },
        { "screenshot", 0, 0, G_OPTION_ARG_FILENAME, &screenshot, "Load the start page, write a PNG of it and exit", "FILE.png" },
        { "dump-dom", 0, 0, G_OPTION_ARG_FILENAME, &dumpDom, "Load the start page, write its HTML and exit", "FILE" },
        { "capture-timeout", 0, 0, G_OPTION_ARG_DOUBLE, &captureTimeout,
            "Seconds a capture waits for the loaded page to settle (default 10)", "S" },
        { "dev-url", 0, 0, G_OPTION_ARG_STRING, &devURL,
            "Start on this development server's page (http or https) for this run and let its origin call native code "
            "(also PENWICK_DEV_URL)", "URL" },
        { "dev", 0, 0, G_OPTION_ARG_NONE, &dev,
            "Turn on the engine's developer tools (inspector, F5 reloads) for this run (also PENWICK_DEV=1)", nullptr },
        { "version", 0, 0, G_OPTION_ARG_NONE, &version, "Print the application's and the host's version and exit", nullptr },
        { nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr },
    };
    GOptionContext* context = g_option_context_new("- host a packaged web application");
    g_option_context_add_main_entries(context, entries, nullptr);
    g_option_context_add_group(context, gtk_get_option_group(FALSE));
    GUnique<GError> error;
    bool parsed = g_option_context_parse(context, &argc, &argv, &error.outPtr());
    g_option_context_free(context);
    GUnique<char> resourcesOwner(resources), screenshotOwner(screenshot), dumpDomOwner(dumpDom), devURLOwner(devURL);
    if (!parsed) {
        std::fprintf(stderr, "penwick: %s (see --help)\n", error->message);
        return { std::nullopt, 2 };
    }
    if (version) {
        std::printf("%s %s\nhost: penwick %s\n", identity.name.c_str(), identity.version.c_str(), build::kVersion);
        return { std::nullopt, 0 };
    }
    if (!(captureTimeout > 0 && captureTimeout <= kMaxCaptureTimeout)) {
        std::fprintf(stderr, "penwick: --capture-timeout takes seconds above 0 and up to %g\n", kMaxCaptureTimeout);
        return { std::nullopt, 2 };
    }
    if (argc > 1) {
        std::fprintf(stderr, "penwick: unexpected argument '%s' (see --help)\n", argv[1]);
        return { std::nullopt, 2 };
    }
    LaunchOptions options;
    // The option wins over the variable; an empty variable is none.
    const char* devEnv = g_getenv("PENWICK_DEV_URL");
    if (devURL || (devEnv && *devEnv)) {
        auto checked = DevServerURL::checked(devURL ? devURL : devEnv, devURL ? "--dev-url" : "PENWICK_DEV_URL");
        if (!checked) {
            std::fprintf(stderr, "penwick: %s\n", checked.error().message.c_str());
            return { std::nullopt, 2 };
        }
        options.devURL = std::move(*checked);
    }
    options.developerExtras = dev || g_strcmp0(g_getenv("PENWICK_DEV"), "1") == 0 ? DeveloperExtras::On : DeveloperExtras::Off;
    options.arguments = std::move(arguments);
    // A relative folder is taken from the working directory, where the user typed it.
    options.resourcePath = resources ? GUnique<char>(g_canonicalize_filename(resources, nullptr)).get() : defaultResourcePath();
    options.resourcesGiven = resources != nullptr;
    if (screenshot)
        options.screenshotPath = screenshot;
    if (dumpDom)
        options.dumpDomPath = dumpDom;
    options.captureTimeout = captureTimeout;
    options.documentationPath = installLayout()->documentationDirectory() + "/README.md";
    if (!g_file_test(options.resourcePath.c_str(), G_FILE_TEST_IS_DIR)) {
        std::fprintf(stderr, "penwick: resource folder %s does not exist\n", options.resourcePath.c_str());
        return { std::nullopt, 2 };
    }
    return { std::move(options), 0 };
}

int GtkApplicationHost::run(ApplicationLifecycle& lifecycle, const LaunchOptions& options)
{
    State& state = *m_state;
    state.lifecycle = &lifecycle;
    g_set_application_name(m_identity.name.c_str());
    // The app's own translations sit in its resource folder, beside config.xml.
    if (installLayout())
        bindCatalogues(installLayout()->localeDirectory(), m_identity.id, options.resourcePath + "/locale");
    // The engine keeps its other website data under the program name, and desktops match windows
    // to their desktop entry by it: both belong to the application id, not the executable's name.
    g_set_prgname(m_identity.id.c_str());
    // X11's WM_CLASS class, which taskbars match with the desktop entry's StartupWMClass: the id
    // too (GDK would otherwise derive it from the program name, capitalised).
    gdk_set_program_class(m_identity.id.c_str());
    // One instance per application id: a second launch hands its command line to the running one
    // over the session bus, which shows its window again.
    state.app = adopt(gtk_application_new(m_identity.id.c_str(), G_APPLICATION_HANDLES_COMMAND_LINE));
    g_signal_connect(state.app.get(), "startup", G_CALLBACK(+[](GApplication*, gpointer data) {
        auto& state = *static_cast<State*>(data);
        // Without a session bus nothing else keeps a second process off the same storage; with one,
        // the lock also keeps out a process started outside that session.
        auto lock = InstanceLock::acquire(InstanceLock::defaultPath(state.applicationId));
        if (lock) {
            state.instanceLock.emplace(std::move(*lock));
        } else if (lock.error().code == EWOULDBLOCK) {
            state.lockError = lock.error().message;
            return;
        } else {
            log::warning("no instance lock (" + lock.error().message + "): a second process of this app is not kept out");
        }
        // Assistive technologies name the application after its accessible root, which GTK names
        // after the program name (the application id): they should say the app's name.
        if (AtkObject* root = atk_get_root())
            atk_object_set_name(root, g_get_application_name());
        gtk_window_set_default_icon_name(state.applicationId.c_str());
        GtkX11Errors::tolerateDestroyedWindows();
        GtkDisplayScale::followDesktop();
        state.colorScheme = std::make_unique<GtkDesktopColorScheme>();
        state.started = true;
        state.lifecycle->startup();
    }), &state);
    g_signal_connect(state.app.get(), "activate", G_CALLBACK(+[](GApplication*, gpointer data) {
        auto& state = *static_cast<State*>(data);
        if (state.started)
            state.lifecycle->activate();
    }), &state);
    g_signal_connect(state.app.get(), "command-line", G_CALLBACK(+[](GApplication* app, GApplicationCommandLine* line, gpointer) -> int {
        if (g_application_command_line_get_is_remote(line)) {
            int argc = 0;
            GUnique<char*> argv(g_application_command_line_get_arguments(line, &argc));
            GUnique<char> given(argc > 1 ? g_strjoinv(" ", argv.get() + 1) : g_strdup("none"));
            log::message(std::string("activated again by a second launch, with arguments: ") + given.get());
        }
        g_application_activate(app);
        return 0;
    }), nullptr);
    // Watched from the start: start-up already makes the page channel's socket folder.
    const int signals[] = { SIGTERM, SIGINT, SIGHUP };
    for (std::size_t i = 0; i < std::size(signals); ++i) {
        state.signalSources[i] = g_unix_signal_add(signals[i], +[](gpointer data) -> gboolean {
            auto& state = *static_cast<State*>(data);
            log::message("ending on a signal");
            state.stopWatchingSignals();
            state.quit(0);
            return G_SOURCE_REMOVE;
        }, &state);
    }
    state.applicationId = m_identity.id;
    GUnique<GError> error;
    if (!g_application_register(G_APPLICATION(state.app.get()), nullptr, &error.outPtr())) {
        std::fprintf(stderr, "penwick: cannot register %s: %s\n", m_identity.id.c_str(), error->message);
        return 1;
    }
    if (!state.lockError.empty()) {
        std::fprintf(stderr, "penwick: %s is already running (%s); without a session bus its window cannot be brought forward\n",
            m_identity.name.c_str(), state.lockError.c_str());
        return 1;
    }
    std::vector<std::string> arguments = options.arguments;
    if (arguments.empty())
        arguments.emplace_back("penwick");
    if (g_application_get_is_remote(G_APPLICATION(state.app.get()))) {
        // The running instance owns the storage and the window: a capture cannot be made beside it.
        if (options.capturing()) {
            std::fprintf(stderr, "penwick: %s is already running; quit it to capture its start page\n", m_identity.name.c_str());
            return 1;
        }
        std::fprintf(stderr, "penwick: %s is already running; its window is brought forward\n", m_identity.name.c_str());
    }
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int status = g_application_run(G_APPLICATION(state.app.get()), static_cast<int>(argv.size() - 1), argv.data());
    state.stopWatchingSignals();
    if (state.captureCancellable)
        g_cancellable_cancel(state.captureCancellable.get());
    GtkChannelServer::shared().shutdown();
    return status != 0 ? status : state.exitCode;
}

void GtkApplicationHost::quit(int exitCode) { m_state->quit(exitCode); }

std::unique_ptr<Window> GtkApplicationHost::createMainWindow(const std::string& title, int width, int height)
{
    auto window = std::make_unique<GtkMainWindow>(m_state->app.get(), title, width, height);
    // Where the desktop shows no application menu GTK would add it to the window as a menu bar,
    // taking room from the page; the menu's actions keep their keys.
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window->window()), FALSE);
    return window;
}

std::unique_ptr<WebView> GtkApplicationHost::createWebView(Window& window)
{
    auto view = std::make_unique<GtkWebView>(static_cast<GtkMainWindow&>(window).contentContainer());
    // The app's window shows the app's pages: the file scheme serves them (not the popup's), and
    // they keep data as apps do.
    view->whenCreated([standing = view->contentStanding()](WebKitWebView* created, WebKitWebContext*) {
        GtkFileScheme::serveView(created, standing);
        GtkStorageFeatures::enable(created);
    });
    // The window closes, and the app quits, once the page agrees; signals still end it at once.
    view->closeThroughPage(static_cast<GtkMainWindow&>(window).window(), [this] { quit(0); });
    return view;
}

std::unique_ptr<Dialogs> GtkApplicationHost::createDialogs(Window& parent)
{
    return std::make_unique<GtkDialogs>(static_cast<GtkMainWindow&>(parent).window());
}

std::unique_ptr<SavePanel> GtkApplicationHost::createSavePanel(Window& parent)
{
    return std::make_unique<GtkSavePanel>(static_cast<GtkMainWindow&>(parent).window());
}

std::unique_ptr<PopupWindow> GtkApplicationHost::createPopupWindow(int width, int height)
{
    return std::make_unique<GtkPopupWindow>(m_state->app.get(), m_identity.name, width, height);
}

DisplayServices& GtkApplicationHost::displayServices() { return m_state->display; }

void GtkApplicationHost::addAction(const std::string& name, const std::vector<std::string>& accelerators, std::function<void()> handler)
{
    State& state = *m_state;
    auto& stored = state.actions.emplace_back(std::make_unique<std::function<void()>>(std::move(handler)));
    GRef<GSimpleAction> action = adopt(g_simple_action_new(name.c_str(), nullptr));
    g_signal_connect(action.get(), "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
        (*static_cast<std::function<void()>*>(data))();
    }), stored.get());
    g_action_map_add_action(G_ACTION_MAP(state.app.get()), G_ACTION(action.get()));
    if (accelerators.empty())
        return;
    std::string detailed = "app." + name;
    std::vector<const char*> accels;
    for (const auto& accelerator : accelerators)
        accels.push_back(accelerator.c_str());
    accels.push_back(nullptr);
    gtk_application_set_accels_for_action(state.app.get(), detailed.c_str(), accels.data());
}

void GtkApplicationHost::addMenuItem(const std::string& label, const std::string& name)
{
    State& state = *m_state;
    if (!state.menu) {
        state.menu = adopt(g_menu_new());
        gtk_application_set_app_menu(state.app.get(), G_MENU_MODEL(state.menu.get()));
    }
    g_menu_append(state.menu.get(), label.c_str(), ("app." + name).c_str());
}

void GtkApplicationHost::present(Window& window) { gtk_window_present(static_cast<GtkMainWindow&>(window).window()); }

void GtkApplicationHost::captureWhenLoaded(WebView& webView, const LaunchOptions& options)
{
    State& state = *m_state;
    if (!options.capturing())
        return;
    state.captureOptions = options;
    state.captureView = &static_cast<GtkWebView&>(webView);
    state.captureCancellable = adopt(g_cancellable_new());
    state.captureView->setLoadFinishedHandler([&state](std::optional<std::string> failure) { state.settle(std::move(failure)); });
    state.captureTimeout = g_timeout_add_seconds(kCaptureLoadSeconds, +[](gpointer data) -> gboolean {
        auto& state = *static_cast<State*>(data);
        state.captureTimeout = 0;
        std::fprintf(stderr, "penwick: the start page did not finish loading within %u s\n", kCaptureLoadSeconds);
        state.quit(1);
        return G_SOURCE_REMOVE;
    }, &state);
}

void GtkApplicationHost::startPageFailed(const std::string& reason)
{
    State& state = *m_state;
    if (!state.captureView || state.startPageFailure)
        return;
    state.startPageFailure = reason;
    std::fprintf(stderr, "penwick: %s\n", reason.c_str());
}

void GtkApplicationHost::serveFiles(const SchemeRules& rules, const FileSource& source, WorkQueue& workQueue,
    Scheduler& scheduler)
{
    GtkFileScheme::serve(rules, source, workQueue, scheduler);
}

void GtkApplicationHost::enableSharedArrayBuffer() { GtkEngineContext::enableSharedArrayBuffer(); }

std::string GtkApplicationHost::webExtensionDirectory()
{
    const char* overrideDir = g_getenv("PENWICK_WEB_EXTENSION_DIR");
    if (!installLayout())
        return overrideDir && *overrideDir ? overrideDir : build::kBuildWebExtensionDir;
    return installLayout()->webExtensionDirectory(overrideDir);
}

std::string GtkApplicationHost::defaultResourcePath() { return installLayout() ? installLayout()->resourcePath() : std::string(); }

} // namespace penwick::platform
