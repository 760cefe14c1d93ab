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

double GtkDisplayScale::engineZoom(double level)
{
    GdkScreen* screen = gdk_screen_get_default();
    double resolution = screen ? gdk_screen_get_resolution(screen) : -1;
    return resolution > 0 ? level * kBaseDpi / resolution : level;
}

} // namespace penwick::platform
