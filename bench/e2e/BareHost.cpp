// The peer the app's start-up and idle memory are measured against: a WebKitGTK host with nothing
// of its own, a window of the app's default size with one web view in the engine's sandbox,
// painting as the app does (on the CPU where there is no GPU), so that hosts are compared, not
// painting policies.
//
//   bench_bare_host FILE_URL --dump-dom FILE   load the page, let it settle as the app's capture
//                                              does, write its HTML, exit 0
//   bench_bare_host FILE_URL --idle            print "LOADED" once the page has loaded, run until
//                                              ended
#include "BenchFiles.h"
#include <cstdio>
#include <cstring>
#include <gtk/gtk.h>
#include <string>
#include <webkit2/webkit2.h>

#include "platform/CaptureSettleScript.h"

namespace {

std::string g_dumpPath;
int g_exitCode = 1;

void onHtml(GObject* view, GAsyncResult* result, gpointer)
{
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (value) {
        char* html = jsc_value_to_string(value);
        if (g_file_set_contents(g_dumpPath.c_str(), html, -1, &error))
            g_exitCode = 0;
        g_free(html);
        g_object_unref(value);
    }
    if (error) {
        std::fprintf(stderr, "bare host: %s\n", error->message);
        g_error_free(error);
    }
    gtk_main_quit();
}

void onSettled(GObject* view, GAsyncResult* result, gpointer)
{
    if (JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view), result, nullptr))
        g_object_unref(value);
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), "document.documentElement.outerHTML", -1, nullptr, nullptr,
        nullptr, onHtml, nullptr);
}

void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer)
{
    if (event != WEBKIT_LOAD_FINISHED)
        return;
    if (g_dumpPath.empty()) {
        std::printf("LOADED\n");
        std::fflush(stdout);
        return;
    }
    webkit_web_view_call_async_javascript_function(view, penwick::platform::kCaptureSettleScript, -1, nullptr, nullptr, nullptr, nullptr, onSettled,
        nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    gtk_init(&argc, &argv);
    bool idle = argc == 3 && std::strcmp(argv[2], "--idle") == 0;
    if (argc == 4 && std::strcmp(argv[2], "--dump-dom") == 0)
        g_dumpPath = argv[3];
    else if (!idle) {
        std::fprintf(stderr, "usage: %s FILE_URL (--dump-dom FILE | --idle)\n", argv[0]);
        return 2;
    }
    WebKitWebContext* context = webkit_web_context_get_default();
    const char* noSandbox = g_getenv("PENWICK_DISABLE_SANDBOX");
    if (!noSandbox || !*noSandbox || std::strcmp(noSandbox, "0") == 0)
        webkit_web_context_set_sandbox_enabled(context, TRUE);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
    if (!penwick::bench::machineHasGpu())
        webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(view), WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(view, argv[1]);
    gtk_main();
    return idle ? 0 : g_exitCode;
}
