#include "platform/gtk/GtkApplicationHost.h"

#include <cstdio>
#include <gtk/gtk.h>
#include <memory>

#include "BuildConfig.h"
#include "app/AppDelegate.h"
#include "host/WHWebViewDelegate.h"
#include "base/GRef.h"
#include "platform/glib/KeyFileUserDefaults.h"
#include "base/Log.h"
#include "platform/glib/GLibAppEnvironment.h"
#include "platform/gtk/GtkChannelServer.h"
#include "platform/gtk/GtkDialogs.h"
#include "platform/gtk/GtkMainWindow.h"
#include "platform/gtk/GtkPointer.h"
#include "platform/gtk/GtkScreens.h"
#include "platform/glib/GLibClock.h"
#include "platform/glib/GLibScheduler.h"
#include "platform/gtk/GtkWebView.h"
#include "platform/glib/GLibWorkQueue.h"

namespace penwick::platform {
namespace {

constexpr int kLayoutWidth = 1024;
constexpr int kLayoutHeight = 768;
constexpr unsigned kCaptureTimeoutSeconds = 60;

bool runningFromBuildTree()
{
    GUnique<char> exe(g_file_read_link("/proc/self/exe", nullptr));
    if (!exe)
        return false;
    std::string path(exe.get());
    std::string buildDir = std::string(build::kBinaryDir) + "/";
    return path.rfind(buildDir, 0) == 0;
}

// Everything the process keeps until it ends.
struct HostState {
    GtkApplicationHost::Options options;
    std::unique_ptr<GLibScheduler> scheduler;
    std::unique_ptr<GLibWorkQueue> workQueue;
    std::unique_ptr<GLibAppEnvironment> environment;
    std::unique_ptr<KeyFileUserDefaults> userDefaults;
    std::unique_ptr<Platform> platform;
    GtkScreens screens;
    GtkPointer pointer;
    GLibClock clock;
    std::unique_ptr<DisplayServices> display;
    std::unique_ptr<penwick::AppDelegate> appDelegate;
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<penwick::WHWebViewDelegate> webViewDelegate;
    GtkWebView* webView = nullptr;
    GtkMainWindow* window = nullptr;
    GRef<GCancellable> captureCancellable;
    bool captureStarted = false;
    int exitCode = 0;
};

void finish(HostState& state, GApplication* app, int exitCode)
{
    state.exitCode = exitCode;
    g_application_quit(app);
}

void writeCaptures(HostState& state, GApplication* app)
{
    if (state.captureStarted)
        return;
    state.captureStarted = true;
    WebKitWebView* view = state.webView->view();
    if (state.options.dumpDomPath) {
        webkit_web_view_evaluate_javascript(view, "document.documentElement.outerHTML", -1, nullptr, nullptr,
            state.captureCancellable.get(),
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto* app = G_APPLICATION(data);
                auto* state = static_cast<HostState*>(g_object_get_data(G_OBJECT(app), "penwick-state"));
                GUnique<GError> error;
                GRef<JSCValue> value = adopt(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr()));
                if (!value) {
                    std::fprintf(stderr, "penwick: could not read the page: %s\n", error ? error->message : "");
                    finish(*state, app, 1);
                    return;
                }
                GUnique<char> html(jsc_value_to_string(value.get()));
                if (!g_file_set_contents(state->options.dumpDomPath->c_str(), html.get(), -1, &error.outPtr())) {
                    std::fprintf(stderr, "penwick: could not write %s: %s\n", state->options.dumpDomPath->c_str(), error->message);
                    finish(*state, app, 1);
                    return;
                }
                if (!state->options.screenshotPath)
                    finish(*state, app, 0);
            },
            app);
    }
    if (state.options.screenshotPath) {
        webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
            state.captureCancellable.get(),
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto* app = G_APPLICATION(data);
                auto* state = static_cast<HostState*>(g_object_get_data(G_OBJECT(app), "penwick-state"));
                GUnique<GError> error;
                cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr());
                if (!surface) {
                    std::fprintf(stderr, "penwick: screenshot failed: %s\n", error ? error->message : "");
                    finish(*state, app, 1);
                    return;
                }
                cairo_status_t status = cairo_surface_write_to_png(surface, state->options.screenshotPath->c_str());
                cairo_surface_destroy(surface);
                if (status != CAIRO_STATUS_SUCCESS) {
                    std::fprintf(stderr, "penwick: could not write %s: %s\n", state->options.screenshotPath->c_str(),
                        cairo_status_to_string(status));
                    finish(*state, app, 1);
                    return;
                }
                // Let a DOM dump that is still on its way finish first.
                g_timeout_add(200, +[](gpointer app) -> gboolean {
                    auto* state = static_cast<HostState*>(g_object_get_data(G_OBJECT(app), "penwick-state"));
                    finish(*state, G_APPLICATION(app), state->exitCode);
                    return G_SOURCE_REMOVE;
                }, app);
            },
            app);
    }
}

void onStartup(GApplication* app, gpointer data)
{
    auto& state = *static_cast<HostState*>(data);
    g_object_set_data(G_OBJECT(app), "penwick-state", &state);
    log::message(std::string("resources at ") + state.options.resourcePath);

    state.scheduler = std::make_unique<GLibScheduler>();
    state.workQueue = std::make_unique<GLibWorkQueue>();
    state.environment = std::make_unique<GLibAppEnvironment>(build::kAppId, state.options.resourcePath);
    state.userDefaults = std::make_unique<KeyFileUserDefaults>(KeyFileUserDefaults::defaultPath(build::kAppId));
    state.platform = std::make_unique<Platform>(Platform { *state.scheduler, *state.workQueue, *state.environment, *state.userDefaults });
    state.display = std::make_unique<DisplayServices>(DisplayServices { state.screens, state.pointer, state.clock });
    state.platform->display = state.display.get();

    // The main window layout: application delegate, window with a web view filling it,
    // controller; then the connections.
    state.appDelegate = std::make_unique<penwick::AppDelegate>();
    auto window = std::make_unique<GtkMainWindow>(GTK_APPLICATION(app), g_get_application_name() ? g_get_application_name() : "Penwick",
        kLayoutWidth, kLayoutHeight);
    auto webView = std::make_unique<GtkWebView>(window->contentContainer());
    auto controller = std::make_unique<penwick::MainViewController>(*state.platform);
    state.window = window.get();
    state.webView = webView.get();
    if (!state.dialogs)
        state.dialogs = std::make_unique<GtkDialogs>(window->window());
    state.webViewDelegate = std::make_unique<penwick::WHWebViewDelegate>(*state.dialogs);
    controller->setWindow(window.get());
    controller->setWebView(webView.get());
    controller->setWebViewDelegate(state.webViewDelegate.get());
    state.webViewDelegate->setViewController(controller.get());
    webView->setClient(state.webViewDelegate.get());
    webView->setDeveloperExtras(state.userDefaults->boolForKey(penwick::WHWebViewDelegate::kDeveloperExtrasKey)
            ? DeveloperExtras::On
            : DeveloperExtras::Off);
    state.appDelegate->setWindow(std::move(window));
    state.appDelegate->setWebView(std::move(webView));
    state.appDelegate->setViewController(std::move(controller));

    if (state.options.screenshotPath || state.options.dumpDomPath) {
        state.captureCancellable = adopt(g_cancellable_new());
        state.webView->setLoadFinishedHandler([&state, app](bool) { writeCaptures(state, app); });
        g_timeout_add_seconds(kCaptureTimeoutSeconds, +[](gpointer app) -> gboolean {
            auto* state = static_cast<HostState*>(g_object_get_data(G_OBJECT(app), "penwick-state"));
            std::fprintf(stderr, "penwick: the start page did not finish loading within %u s\n", kCaptureTimeoutSeconds);
            finish(*state, G_APPLICATION(app), 1);
            return G_SOURCE_REMOVE;
        }, app);
    }

    // Full screen on and off: F11 (or a menu entry bound to app.fullscreen).
    GRef<GSimpleAction> fullscreen = adopt(g_simple_action_new("fullscreen", nullptr));
    g_signal_connect(fullscreen.get(), "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
        auto& state = *static_cast<HostState*>(data);
        if (state.appDelegate && state.appDelegate->viewController())
            state.appDelegate->viewController()->onFullscreen();
    }), &state);
    g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(fullscreen.get()));
    const char* fullscreenAccels[] = { "F11", nullptr };
    gtk_application_set_accels_for_action(GTK_APPLICATION(app), "app.fullscreen", fullscreenAccels);

    state.appDelegate->viewController()->awakeFromNib();
    if (!state.appDelegate->viewController()->startPage()) {
        // Without a configuration nothing will load; a capture has nothing to wait for.
        if (state.options.screenshotPath || state.options.dumpDomPath) {
            std::fprintf(stderr, "penwick: no config.xml in %s\n", state.options.resourcePath.c_str());
            state.exitCode = 1;
        }
    }
}

void onActivate(GApplication* app, gpointer data)
{
    auto& state = *static_cast<HostState*>(data);
    if (!state.appDelegate)
        return;
    static bool launched = false;
    if (!launched) {
        launched = true;
        state.appDelegate->applicationWillFinishLaunching();
        if (state.exitCode != 0)
            g_application_quit(app);
    } else if (state.window) {
        gtk_window_present(state.window->window());
    }
}

} // namespace

std::string GtkApplicationHost::webExtensionDirectory()
{
    if (const char* dir = g_getenv("PENWICK_WEB_EXTENSION_DIR"))
        return dir;
    return runningFromBuildTree() ? build::kBuildWebExtensionDir : build::kWebExtensionDir;
}

std::string GtkApplicationHost::defaultResourcePath()
{
    return runningFromBuildTree() ? build::kSourceDir : build::kDataDir;
}

static HostState& hostState()
{
    static HostState s_state;
    return s_state;
}

void GtkApplicationHost::setDialogsForTesting(std::unique_ptr<Dialogs> dialogs) { hostState().dialogs = std::move(dialogs); }

int GtkApplicationHost::run(int argc, char** argv)
{
    HostState& state = hostState();
    char* resources = nullptr;
    char* screenshot = nullptr;
    char* dumpDom = nullptr;
    gboolean version = FALSE;
    GOptionEntry entries[] = {
        { "resources", 0, 0, G_OPTION_ARG_FILENAME, &resources, "Folder holding config.xml and www/", "DIR" },
        { "screenshot", 0, 0, G_OPTION_ARG_FILENAME, &screenshot, "Load the start page, write a PNG of it and exit", "FILE.png" },
        { "dump-dom", 0, 0, G_OPTION_ARG_FILENAME, &dumpDom, "Load the start page, write its HTML and exit", "FILE" },
        { "version", 0, 0, G_OPTION_ARG_NONE, &version, "Print the version and exit", nullptr },
        { nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr },
    };
    GOptionContext* context = g_option_context_new("- host a packaged web application");
    g_option_context_add_main_entries(context, entries, nullptr);
    g_option_context_add_group(context, gtk_get_option_group(FALSE));
    GUnique<GError> error;
    bool parsed = g_option_context_parse(context, &argc, &argv, &error.outPtr());
    g_option_context_free(context);
    GUnique<char> resourcesOwner(resources), screenshotOwner(screenshot), dumpDomOwner(dumpDom);
    if (!parsed) {
        std::fprintf(stderr, "penwick: %s (see --help)\n", error->message);
        return 2;
    }
    if (version) {
        std::printf("penwick %s\n", build::kVersion);
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr, "penwick: unexpected argument '%s' (see --help)\n", argv[1]);
        return 2;
    }
    state.options.resourcePath = resources ? resources : defaultResourcePath();
    if (screenshot)
        state.options.screenshotPath = screenshot;
    if (dumpDom)
        state.options.dumpDomPath = dumpDom;
    if (!g_file_test(state.options.resourcePath.c_str(), G_FILE_TEST_IS_DIR)) {
        std::fprintf(stderr, "penwick: resource folder %s does not exist\n", state.options.resourcePath.c_str());
        return 2;
    }

    g_set_application_name("Penwick");
    // Several instances may run at once, each with its own resources.
    GRef<GtkApplication> app = adopt(gtk_application_new(build::kAppId, G_APPLICATION_NON_UNIQUE));
    g_signal_connect(app.get(), "startup", G_CALLBACK(onStartup), &state);
    g_signal_connect(app.get(), "activate", G_CALLBACK(onActivate), &state);
    char* appArgv[] = { argv[0], nullptr };
    int status = g_application_run(G_APPLICATION(app.get()), 1, appArgv);
    if (state.captureCancellable)
        g_cancellable_cancel(state.captureCancellable.get());
    GtkChannelServer::shared().shutdown();
    // The host has no shutdown work: the controller, its plugins and the window live until the
    // process ends, so they are not torn down after the main loop.
    (void)state.appDelegate.release();
    return status != 0 ? status : state.exitCode;
}

} // namespace penwick::platform
