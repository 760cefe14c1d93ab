#include "platform/gtk/GtkDisplayScale.h"

#include <cmath>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <string>

#include "base/Log.h"

namespace penwick::platform {
namespace {

constexpr double kBaseDpi = 96.0;
// GtkSettings keeps the font resolution in 1024ths of a dot per inch.
constexpr double kDpiUnit = 1024.0;
// The zoom level the page asked for, kept on its view.
constexpr const char* kLevelKey = "penwick-zoom-level";

} // namespace

void GtkDisplayScale::followDesktop()
{
    GdkDisplay* display = gdk_display_get_default();
    GtkSettings* settings = gtk_settings_get_default();
    if (!display || !settings || !GDK_IS_X11_DISPLAY(display))
        return;
    int fontDpi = 0;
    g_object_get(settings, "gtk-xft-dpi", &fontDpi, nullptr);
    if (fontDpi <= 0)
        return;
    const double dpi = fontDpi / kDpiUnit;
    int scale = gdk_monitor_get_scale_factor(gdk_display_get_monitor(display, 0));
    // GTK scales windows by whole numbers only: 1.5 and more rounds up to a window scale.
    if (scale == 1 && !g_getenv("GDK_SCALE") && dpi >= 1.5 * kBaseDpi) {
        scale = static_cast<int>(std::lround(dpi / kBaseDpi));
        gdk_x11_display_set_window_scale(display, scale);
        log::message("display scale: " + std::to_string(scale) + " from the font resolution of " + std::to_string(std::lround(dpi)) + " dpi");
    }
    // A font resolution that already counts the scale's device pixels would scale text again.
    if (scale > 1 && dpi >= scale * kBaseDpi)
        g_object_set(settings, "gtk-xft-dpi", static_cast<int>(std::lround(fontDpi / static_cast<double>(scale))), nullptr);
}

void GtkDisplayScale::setZoom(WebKitWebView* view, double level)
{
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen) {
        webkit_web_view_set_zoom_level(view, level);
        return;
    }
    // The engine follows a new font resolution on its own; the page's zoom follows with it.
    if (!g_object_get_data(G_OBJECT(view), kLevelKey))
        g_signal_connect_object(screen, "notify::resolution", G_CALLBACK(+[](GdkScreen*, GParamSpec*, WebKitWebView* view) {
            setZoom(view, *static_cast<double*>(g_object_get_data(G_OBJECT(view), kLevelKey)));
        }), view, G_CONNECT_DEFAULT);
    g_object_set_data_full(G_OBJECT(view), kLevelKey, new double(level), +[](gpointer level) { delete static_cast<double*>(level); });
    double resolution = gdk_screen_get_resolution(screen);
    webkit_web_view_set_zoom_level(view, resolution > 0 ? level * kBaseDpi / resolution : level);
}

} // namespace penwick::platform
