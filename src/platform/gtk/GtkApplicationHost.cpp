#include "platform/gtk/GtkApplicationHost.h"

#include <cerrno>
#include <csignal>
#include <memory>
#include <utility>
#include <vector>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "base/LogIdentity.h"
#include "base/Translate.h"
#include "platform/gtk/GtkChannelServer.h"
#include "platform/gtk/GtkCommandLine.h"
#include "platform/gtk/GtkDesktopColorScheme.h"
#include "platform/gtk/GtkDialogs.h"
#include "platform/gtk/GtkEngineContext.h"
#include "platform/gtk/GtkFileScheme.h"
#include "platform/gtk/GtkMainWindow.h"
#include "platform/gtk/GtkModalDialogs.h"
#include "platform/gtk/GtkPageCapture.h"
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

    // The page channel and the engine context every web view shares; made at start-up.
    GtkChannelServer channel;
    std::unique_ptr<GtkEngineContext> engine;
    // The captures the test options ask for, once the main web view exists.
    std::unique_ptr<GtkPageCapture> capture;
    // Until the windows have the app's icon: the first page's load ends the wait.
    SignalConnection iconAfterLoad;
    bool iconSet = false;

    ~State() { stopWatchingSignals(); }

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

    // The icon theme's look-ups at the window's realisation cost start-up time that the first page
    // needs: windows get the app's icon once that page has loaded.
    void setWindowIcons()
    {
        iconAfterLoad.disconnect();
        if (std::exchange(iconSet, true))
            return;
        gtk_window_set_default_icon_name(applicationId.c_str());
        // GTK gives the default only to windows realised after it was set.
        std::unique_ptr<GList, decltype(&g_list_free)> windows(gtk_window_list_toplevels(), g_list_free);
        for (GList* item = windows.get(); item; item = item->next) {
            GtkWindow* window = GTK_WINDOW(item->data);
            if (gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL && !gtk_window_get_icon_name(window) && !gtk_window_get_icon(window))
                gtk_window_set_icon_name(window, applicationId.c_str());
        }
    }

    void quit(int code)
    {
        exitCode = code;
        // The main loop ends only once the loops of open dialogs have returned to it.
        GtkModalDialogs::endAll();
        auto end = [this] {
            if (app)
                g_application_quit(G_APPLICATION(app.get()));
        };
        // What a page was told is saved is on disk before the engine's processes go with the host.
        if (engine)
            engine->afterStorageSettles(end);
        else
            end();
    }
};

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

int GtkApplicationHost::run(ApplicationLifecycle& lifecycle, const LaunchOptions& options)
{
    State& state = *m_state;
    state.lifecycle = &lifecycle;
    g_set_application_name(m_identity.name.c_str());
    // The app's own translations sit in its resource folder, beside config.xml.
    if (const InstallLayout* layout = GtkCommandLine::installLayout())
        bindCatalogues(layout->localeDirectory(), m_identity.id, options.resourcePath + "/locale");
    // The engine keeps its other website data under the program name, and desktops match windows
    // to their desktop entry by it: both belong to the application id, not the executable's name.
    g_set_prgname(m_identity.id.c_str());
    // X11's WM_CLASS class, which taskbars match with the desktop entry's StartupWMClass: the id
    // too (GDK would otherwise derive it from the program name, capitalised).
    gdk_set_program_class(m_identity.id.c_str());
    // The engine's processes keep their temporary files in the host's own folder, which goes with
    // the host: the network process leaves a copy of every file a page writes to the origin-private
    // file system in its temporary folder, and never removes them. Set while the process has one
    // thread (the environment is not safe to change later); the host's own temporary folder, the
    // pages' "temporary" file system, was read before and stays.
    if (state.channel.listen() && !state.channel.engineTemporaryFolder().empty())
        g_setenv("TMPDIR", state.channel.engineTemporaryFolder().c_str(), TRUE);
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
        GtkX11Errors::tolerateDestroyedWindows();
        GtkDisplayScale::followDesktop();
        state.colorScheme = std::make_unique<GtkDesktopColorScheme>();
        state.engine = std::make_unique<GtkEngineContext>(state.channel, GtkCommandLine::webExtensionDirectory());
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
        log::warning(format("cannot register %@: %@", m_identity.id, error->message));
        return 1;
    }
    // GLib ends a process whose shared session bus closes (a desktop restarting its bus) with
    // SIGTERM, which would close the app without asking its page; it runs on without the bus, and
    // the instance lock still keeps a second process off its storage.
    if (GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(state.app.get())))
        g_dbus_connection_set_exit_on_close(bus, FALSE);
    if (!state.lockError.empty()) {
        log::warning(format("%@ is already running (%@); without a session bus its window cannot be brought forward", m_identity.name,
            state.lockError));
        return 1;
    }
    std::vector<std::string> arguments = options.arguments;
    if (arguments.empty())
        arguments.emplace_back("penwick");
    if (g_application_get_is_remote(G_APPLICATION(state.app.get()))) {
        // The running instance owns the storage and the window: a capture cannot be made beside it.
        if (options.capturing()) {
            log::warning(format("%@ is already running; quit it to capture its start page", m_identity.name));
            return 1;
        }
        log::message(format("%@ is already running; its window is brought forward", m_identity.name));
    }
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int status = g_application_run(G_APPLICATION(state.app.get()), static_cast<int>(argv.size() - 1), argv.data());
    state.stopWatchingSignals();
    if (state.capture)
        state.capture->cancel();
    state.channel.shutdown();
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
    auto view = std::make_unique<GtkWebView>(static_cast<GtkMainWindow&>(window).contentContainer(), *m_state->engine);
    // The app's window shows the app's pages: the file scheme serves them (not the popup's), and
    // they keep data as apps do.
    view->whenCreated([standing = view->contentStanding(), &state = *m_state](WebKitWebView* created, WebKitWebContext*) {
        GtkFileScheme::serveView(created, standing);
        GtkStorageFeatures::enable(created);
        // The first view to load gives the windows their icon; a later view does not take its place.
        if (!state.iconSet && !state.iconAfterLoad.connected()) {
            state.iconAfterLoad = SignalConnection(created, g_signal_connect(created, "load-changed",
                G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                    if (event == WEBKIT_LOAD_FINISHED)
                        static_cast<State*>(data)->setWindowIcons();
                }), &state));
        }
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
    return std::make_unique<GtkPopupWindow>(m_state->app.get(), *m_state->engine, m_identity.name, width, height);
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
    if (options.capturing())
        m_state->capture = std::make_unique<GtkPageCapture>(static_cast<GtkWebView&>(webView), options, [this](int code) { quit(code); });
}

void GtkApplicationHost::startPageFailed(const std::string& reason)
{
    if (m_state->capture)
        m_state->capture->startPageFailed(reason);
}

void GtkApplicationHost::serveFiles(const SchemeRules& rules, const FileSource& source, WorkQueue& workQueue,
    Scheduler& scheduler)
{
    GtkFileScheme::serve(*m_state->engine, rules, source, workQueue, scheduler);
}

GtkChannelServer& GtkApplicationHost::channelServer() { return m_state->channel; }

void GtkApplicationHost::enableSharedArrayBuffer() { GtkEngineContext::enableSharedArrayBuffer(); }

} // namespace penwick::platform
