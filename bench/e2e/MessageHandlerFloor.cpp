// The floor the host's bridge is measured against: a minimal WebKitGTK host that carries page calls
// the usual way, as script messages to the UI process, and answers each with one
// webkit_web_view_evaluate_javascript of the same native-callback expression.
//
//   bench_message_handler_floor FILE_URL
//
// Prints the page's "BENCH {...}" report on stdout and exits.
#include <cstdio>
#include <gtk/gtk.h>
#include <nlohmann/json.hpp>
#include <string>
#include <webkit2/webkit2.h>

namespace {

WebKitWebView* g_view = nullptr;

std::string jsonOf(WebKitJavascriptResult* result)
{
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    char* json = jsc_value_to_json(value, 0);
    std::string out = json ? json : "null";
    g_free(json);
    return out;
}

void onCall(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer)
{
    // What a host does with a call: read it, dispatch it, answer it.
    auto call = nlohmann::json::parse(jsonOf(result), nullptr, false);
    if (!call.is_array() || call.size() != 4 || !call[0].is_string())
        return;
    const std::string& callbackId = call[0].get_ref<const std::string&>();
    if (callbackId == "INVALID")
        return;
    const auto& args = call[3];
    std::string message = args.is_array() && !args.empty() ? args[0].dump() : "null";
    std::string script = "webhost.require('webhost/exec').nativeCallback('" + callbackId + "',1," + message + ",0)";
    webkit_web_view_evaluate_javascript(g_view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr,
        nullptr, nullptr, nullptr);
}

void onReport(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer)
{
    auto text = nlohmann::json::parse(jsonOf(result), nullptr, false);
    if (text.is_string())
        std::printf("%s\n", text.get<std::string>().c_str());
    std::fflush(stdout);
    gtk_main_quit();
}

} // namespace

int main(int argc, char** argv)
{
    gtk_init(&argc, &argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE_URL\n", argv[0]);
        return 2;
    }
    WebKitUserContentManager* manager = webkit_user_content_manager_new();
    webkit_user_content_manager_register_script_message_handler(manager, "bench");
    webkit_user_content_manager_register_script_message_handler(manager, "report");
    g_signal_connect(manager, "script-message-received::bench", G_CALLBACK(onCall), nullptr);
    g_signal_connect(manager, "script-message-received::report", G_CALLBACK(onReport), nullptr);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    g_view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(manager));
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(g_view));
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(g_view, argv[1]);
    g_timeout_add_seconds(120, +[](gpointer) -> gboolean {
        std::fprintf(stderr, "the floor page did not report within 120 s\n");
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }, nullptr);
    gtk_main();
    return 0;
}
