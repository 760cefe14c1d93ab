#include "platform/gtk/GtkPopupWindow.h"

#include "platform/gtk/GtkWebView.h"

namespace penwick::platform {

GtkPopupWindow::GtkPopupWindow(GtkApplication* application, GtkEngineContext& engine, const std::string& title, int width, int height)
{
    m_window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_object_ref_sink(m_window);
    if (application)
        gtk_window_set_application(m_window, application);
    gtk_window_set_title(m_window, title.c_str());
    gtk_window_set_role(m_window, "penwick-popup");
    if (application)
        gtk_window_set_icon_name(m_window, g_application_get_application_id(G_APPLICATION(application)));
    gtk_window_set_default_size(m_window, width, height);
    GtkWidget* content = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(content), GTK_SHADOW_NONE);
    gtk_container_add(GTK_CONTAINER(m_window), content);
    gtk_widget_show(content);
    m_webView = std::make_unique<GtkWebView>(content, engine);
    m_webView->whenCreated([this](WebKitWebView* view, WebKitWebContext*) {
        m_titleChanged = SignalConnection(view,
            g_signal_connect(view, "notify::title", G_CALLBACK(+[](WebKitWebView* view, GParamSpec*, gpointer window) {
                const char* title = webkit_web_view_get_title(view);
                if (title && *title)
                    gtk_window_set_title(GTK_WINDOW(window), title);
            }),
                m_window));
    });
    // The window manager's close button hides the window so the next open can show it again.
    m_deleteEvent = SignalConnection(m_window,
        g_signal_connect(m_window, "delete-event", G_CALLBACK(+[](GtkWidget* widget, GdkEvent*, gpointer) -> gboolean {
            gtk_widget_hide(widget);
            return TRUE;
        }),
            nullptr));
    // Ctrl+W closes it the same way, before the page sees the key.
    m_keyPress = SignalConnection(m_window,
        g_signal_connect(m_window, "key-press-event", G_CALLBACK(+[](GtkWidget* widget, GdkEventKey* event, gpointer) -> gboolean {
            auto modifiers = event->state & gtk_accelerator_get_default_mod_mask();
            if (modifiers != GDK_CONTROL_MASK || gdk_keyval_to_lower(event->keyval) != GDK_KEY_w)
                return FALSE;
            gtk_widget_hide(widget);
            return TRUE;
        }),
            nullptr));
}

GtkPopupWindow::~GtkPopupWindow()
{
    m_keyPress = SignalConnection();
    m_deleteEvent = SignalConnection();
    m_titleChanged = SignalConnection();
    m_webView.reset();
    gtk_widget_destroy(GTK_WIDGET(m_window));
    g_object_unref(m_window);
}

WebView& GtkPopupWindow::webView() { return *m_webView; }

void GtkPopupWindow::show()
{
    // It belongs to the app's window: tiling compositors float it over that window rather than
    // give it half the screen, and window managers keep it above.
    if (GtkApplication* application = gtk_window_get_application(m_window)) {
        for (GList* l = gtk_application_get_windows(application); l; l = l->next) {
            if (GTK_IS_APPLICATION_WINDOW(l->data) && l->data != m_window) {
                gtk_window_set_transient_for(m_window, GTK_WINDOW(l->data));
                break;
            }
        }
    }
    gtk_widget_show(GTK_WIDGET(m_window));
    gtk_window_present(m_window);
}

void GtkPopupWindow::close() { gtk_widget_hide(GTK_WIDGET(m_window)); }

bool GtkPopupWindow::isVisible() const { return gtk_widget_get_visible(GTK_WIDGET(m_window)); }

} // namespace penwick::platform
