#include "platform/gtk/GtkScreens.h"

#include <cmath>
#include <gtk/gtk.h>

#include "base/GRef.h"

namespace penwick::platform {
namespace {

GdkMonitor* primaryMonitor(GdkDisplay* display)
{
    if (GdkMonitor* primary = gdk_display_get_primary_monitor(display))
        return primary;
    return gdk_display_get_n_monitors(display) > 0 ? gdk_display_get_monitor(display, 0) : nullptr;
}

// The y-down coordinate of the primary monitor's bottom edge: y-up 0.
int referenceBottom()
{
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* primary = display ? primaryMonitor(display) : nullptr;
    if (!primary)
        return 0;
    GdkRectangle r;
    gdk_monitor_get_geometry(primary, &r);
    return r.y + r.height;
}

int indexOf(GdkDisplay* display, GdkMonitor* monitor)
{
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        if (gdk_display_get_monitor(display, i) == monitor)
            return i;
    }
    return -1;
}

} // namespace

Rect GtkScreens::fromGdk(const GdkRectangle& r)
{
    return { static_cast<double>(r.x), static_cast<double>(referenceBottom() - (r.y + r.height)), static_cast<double>(r.width),
        static_cast<double>(r.height) };
}

GdkRectangle GtkScreens::toGdk(const Rect& r)
{
    GdkRectangle g;
    g.x = static_cast<int>(std::lround(r.x));
    g.width = static_cast<int>(std::lround(r.width));
    g.height = static_cast<int>(std::lround(r.height));
    g.y = referenceBottom() - static_cast<int>(std::lround(r.y)) - g.height;
    return g;
}

std::vector<Screen> GtkScreens::screens() const
{
    std::vector<Screen> result;
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return result;
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        GdkRectangle r;
        gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &r);
        result.push_back({ i, fromGdk(r) });
    }
    return result;
}

std::optional<Screen> GtkScreens::mainScreen() const
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return std::nullopt;
    GdkMonitor* monitor = nullptr;
    GUnique<GList> toplevels(gtk_window_list_toplevels());
    for (GList* l = toplevels.get(); l && !monitor; l = l->next) {
        GtkWindow* window = GTK_WINDOW(l->data);
        if (gtk_window_is_active(window) && gtk_widget_get_window(GTK_WIDGET(window)))
            monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(GTK_WIDGET(window)));
    }
    if (!monitor)
        monitor = primaryMonitor(display);
    if (!monitor)
        return std::nullopt;
    GdkRectangle r;
    gdk_monitor_get_geometry(monitor, &r);
    return Screen { indexOf(display, monitor), fromGdk(r) };
}

} // namespace penwick::platform
