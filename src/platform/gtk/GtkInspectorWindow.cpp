#include "platform/gtk/GtkInspectorWindow.h"

namespace penwick::platform {

SignalConnection GtkInspectorWindow::keepDetached(WebKitWebView* view)
{
    // The inspector in a window of its own: docked, it would take room from the page the app laid
    // out. The engine docks it when it opens (refusing that closes it); it is moved out on the next
    // turn of the main loop.
    WebKitWebInspector* inspector = webkit_web_view_get_inspector(view);
    return SignalConnection(inspector,
        g_signal_connect(inspector, "attach", G_CALLBACK(+[](WebKitWebInspector* inspector, gpointer) -> gboolean {
            g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, +[](gpointer data) -> gboolean {
                webkit_web_inspector_detach(WEBKIT_WEB_INSPECTOR(data));
                return G_SOURCE_REMOVE;
            }, g_object_ref(inspector), g_object_unref);
            return FALSE;
        }), nullptr));
}

} // namespace penwick::platform
