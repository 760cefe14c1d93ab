#include "platform/gtk/GtkWindowFrame.h"

#include <algorithm>
#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>
#include <string>
#include <vector>

#include "base/Log.h"
#include "platform/gtk/GtkAppEvents.h"
#include "platform/gtk/GtkScreens.h"

namespace penwick::platform {
namespace {

constexpr int kMaxAttempts = 4;
constexpr unsigned kSettleMilliseconds = 60;
constexpr unsigned kReleaseMilliseconds = 400;

bool sameRect(const GdkRectangle& a, const GdkRectangle& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

bool onWayland(GtkWindow* window) { return GDK_IS_WAYLAND_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window))); }

// A frame with a title bar kept inside the work area of the monitor it is mostly on, its top-left
// first: a size kept from the bottom edge (y-up frames) must not push the title bar off screen.
GdkRectangle insideWorkArea(GtkWindow* window, GdkRectangle want)
{
    GdkMonitor* monitor = gdk_display_get_monitor_at_point(gtk_widget_get_display(GTK_WIDGET(window)), want.x + want.width / 2,
        want.y + want.height / 2);
    if (!monitor)
        return want;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    want.x = std::max(area.x, std::min(want.x, area.x + area.width - want.width));
    want.y = std::max(area.y, std::min(want.y, area.y + area.height - want.height));
    return want;
}

GdkRectangle monitorGeometry(GdkDisplay* display, int index)
{
    GdkRectangle m;
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, index), &m);
    return m;
}

// The monitors `rect` covers whole.
std::vector<int> coveredMonitors(GdkDisplay* display, const GdkRectangle& rect)
{
    std::vector<int> covered;
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        GdkRectangle m = monitorGeometry(display, i);
        GdkRectangle overlap;
        if (gdk_rectangle_intersect(&m, &rect, &overlap) && sameRect(overlap, m))
            covered.push_back(i);
    }
    return covered;
}

// The height of the title bar GTK draws itself on Wayland (0 while it shows none): GTK sizes a
// window without it, the compositor's window frame has it.
int drawnTitleBarHeight(GtkWindow* window)
{
    int height = 0;
    GtkWidget* content = gtk_bin_get_child(GTK_BIN(window));
    struct Search {
        GtkWidget* content;
        int* height;
    } search { content, &height };
    // The title bar is an internal child of the window: only forall() reaches it.
    gtk_container_forall(GTK_CONTAINER(window), +[](GtkWidget* child, gpointer data) {
        auto& search = *static_cast<Search*>(data);
        if (child == search.content || !gtk_widget_get_visible(child) || !gtk_widget_get_child_visible(child))
            return;
        int natural = 0;
        gtk_widget_get_preferred_height(child, nullptr, &natural);
        *search.height = std::max(*search.height, gtk_widget_get_mapped(child) ? gtk_widget_get_allocated_height(child) : natural);
    }, &search);
    return gtk_window_get_decorated(window) ? height : 0;
}

// Logs `line` once per process: what the compositor does not offer is said at start-up, not on
// every toggle.
void logOnce(bool& logged, const std::string& line)
{
    if (!logged)
        log::message(line);
    logged = true;
}

struct WaylandNotices {
    bool keepAbove = false;
    bool hideOnDeactivate = false;
    bool oneMonitor = false;
    bool sizeRefused = false;
};

WaylandNotices& waylandNotices()
{
    static WaylandNotices s_notices;
    return s_notices;
}

} // namespace

GtkWindowFrame::GtkWindowFrame(GtkWindow* window)
    : m_window(window)
{
    auto onChange = +[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
        static_cast<GtkWindowFrame*>(self)->scheduleCheck();
        return FALSE;
    };
    m_configure = SignalConnection(m_window, g_signal_connect(m_window, "configure-event", G_CALLBACK(onChange), this));
    m_map = SignalConnection(m_window, g_signal_connect(m_window, "map-event", G_CALLBACK(onChange), this));
    // The window manager announces new decorations through a property of the window.
    m_property = SignalConnection(m_window, g_signal_connect(m_window, "property-notify-event", G_CALLBACK(onChange), this));
}

GtkWindowFrame::~GtkWindowFrame() = default;

TitleBar GtkWindowFrame::titleBar() const
{
    if (onWayland(m_window))
        return m_waylandTitleBar;
    return gtk_window_get_decorated(m_window) ? TitleBar::Shown : TitleBar::Hidden;
}

void GtkWindowFrame::setTitleBar(TitleBar titleBar)
{
    // On Wayland GTK draws the title bar itself and cannot add it to a window shown without one;
    // the compositor's full-screen state, the only place the title bar goes, hides it anyway.
    if (onWayland(m_window)) {
        m_waylandTitleBar = titleBar;
        return;
    }
    gtk_window_set_decorated(m_window, titleBar == TitleBar::Shown);
}

void GtkWindowFrame::setLevel(WindowLevel level)
{
    if (level == WindowLevel::StatusWindow && onWayland(m_window))
        logOnce(waylandNotices().keepAbove, "window level: Wayland lets no application keep its window above others; the compositor stacks it");
    gtk_window_set_keep_above(m_window, level == WindowLevel::StatusWindow);
}

void GtkWindowFrame::setHidesOnDeactivate(HidesOnDeactivate hides)
{
    if (hides == HidesOnDeactivate::Off) {
        m_resign.reset();
        m_become.reset();
        return;
    }
    if (m_resign)
        return;
    if (onWayland(m_window))
        logOnce(waylandNotices().hideOnDeactivate,
            "hiding while another application is active: on Wayland the window is only asked to minimise, which the compositor may refuse");
    // A window without a dock icon could not be brought back if it were hidden: iconified, the
    // window manager's task list still reaches it.
    auto& events = GtkAppEvents::shared();
    m_resign = events.onDidResignActive([this] { resignActive(); });
    m_become = events.onDidBecomeActive([this] { becomeActive(); });
}

void GtkWindowFrame::resignActive() { gtk_window_iconify(m_window); }

void GtkWindowFrame::becomeActive()
{
    gtk_window_deiconify(m_window);
    if (m_lastSet)
        request(*m_lastSet);
}

GdkRectangle GtkWindowFrame::outerFrame() const
{
    // Wayland shows a window where the compositor wants it, and its GDK window includes the
    // shadows GTK draws around its own decorations: the frame is the window's size with the
    // title bar GTK draws, at no position of its own.
    if (onWayland(m_window)) {
        GdkRectangle r {};
        gtk_window_get_size(m_window, &r.width, &r.height);
        r.height += drawnTitleBarHeight(m_window);
        return r;
    }
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(m_window));
    if (gdkWindow && gtk_widget_get_mapped(GTK_WIDGET(m_window))) {
        GdkRectangle r;
        gdk_window_get_frame_extents(gdkWindow, &r);
        return r;
    }
    GdkRectangle r;
    gtk_window_get_position(m_window, &r.x, &r.y);
    gtk_window_get_size(m_window, &r.width, &r.height);
    return r;
}

GtkWindowFrame::Extents GtkWindowFrame::extents() const
{
    Extents e;
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(m_window));
    if (!gdkWindow || !gtk_widget_get_mapped(GTK_WIDGET(m_window)))
        return e;
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdkWindow, &frame);
    int x = 0, y = 0;
    gdk_window_get_origin(gdkWindow, &x, &y);
    e.left = x - frame.x;
    e.top = y - frame.y;
    e.right = frame.width - gdk_window_get_width(gdkWindow) - e.left;
    e.bottom = frame.height - gdk_window_get_height(gdkWindow) - e.top;
    return e;
}

Rect GtkWindowFrame::frame() const
{
    return GtkScreens::fromGdk(m_requested ? *m_requested : outerFrame());
}

void GtkWindowFrame::setFrame(Rect frame)
{
    GdkRectangle want = GtkScreens::toGdk(frame);
    if (titleBar() == TitleBar::Shown && !onWayland(m_window))
        want = insideWorkArea(m_window, want);
    m_lastSet = want;
    request(want);
    gtk_widget_queue_draw(GTK_WIDGET(m_window));
}

void GtkWindowFrame::request(const GdkRectangle& want)
{
    // A check or a release still pending belongs to the frame asked for before: released now, it
    // would let go of this one before the window manager has placed it.
    m_check.stop();
    m_requested = want;
    m_attempts = 0;
    apply();
}

void GtkWindowFrame::apply()
{
    if (!m_requested)
        return;
    ++m_attempts;
    const GdkRectangle want = *m_requested;
    if (onWayland(m_window)) {
        applyOnWayland(want);
        return;
    }
    applyFullscreenMonitors(want);
    if (m_spanning)
        return;
    Extents e = extents();
    gtk_window_move(m_window, want.x, want.y);
    gtk_window_resize(m_window, std::max(1, want.width - e.left - e.right), std::max(1, want.height - e.top - e.bottom));
    // GTK sends no move when it believes the window is already there, which it does after a
    // window manager has put decorations back around a window that stayed in place.
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(m_window));
    if (gdkWindow && gtk_widget_get_mapped(GTK_WIDGET(m_window)))
        gdk_window_move(gdkWindow, want.x, want.y);
}

void GtkWindowFrame::scheduleCheck()
{
    if (!m_requested)
        return;
    // Configure events come in bursts while the window manager frames and places the window.
    m_check.start(kSettleMilliseconds, [this] { check(); });
}

void GtkWindowFrame::check()
{
    if (!m_requested || !gtk_widget_get_mapped(GTK_WIDGET(m_window)))
        return;
    if (onWayland(m_window) && m_spanning) {
        // Asked before the window was shown, full screen may not have reached the compositor.
        GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(m_window));
        bool fullscreen = gdkWindow && (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_FULLSCREEN);
        if (fullscreen || m_attempts >= kMaxAttempts)
            m_requested.reset();
        else
            apply();
        return;
    }
    if (onWayland(m_window)) {
        GdkRectangle have = outerFrame();
        if (have.width == m_requested->width && have.height == m_requested->height) {
            m_requested.reset();
        } else if (m_attempts < kMaxAttempts) {
            apply();
            // A compositor that keeps the window's size sends nothing back: look again anyway.
            m_check.start(kReleaseMilliseconds, [this] { check(); });
        } else {
            logOnce(waylandNotices().sizeRefused,
                "window size: the compositor keeps the window at " + std::to_string(have.width) + "x" + std::to_string(have.height)
                    + ", not the " + std::to_string(m_requested->width) + "x" + std::to_string(m_requested->height)
                    + " asked for (a tiling compositor sizes windows itself)");
            m_requested.reset();
        }
        return;
    }
    if (m_attempts >= kMaxAttempts) {
        m_requested.reset();
        return;
    }
    if (!sameRect(outerFrame(), *m_requested)) {
        apply();
        return;
    }
    // The right outer frame with the old decorations still on (or not yet back) is not the end:
    // once the window manager changes them, the client size must follow. Their change arrives as
    // a configure or property event, which checks again.
    if (!decorationsSettled())
        return;
    // Decorations may still come back around a window that already has the right frame and
    // push it out of place, and a late move from the window manager may come with no event we
    // see: keep watching a little longer, and let go only of a frame still right then.
    m_check.start(kReleaseMilliseconds, [this] { release(); });
}

void GtkWindowFrame::release()
{
    if (!m_requested)
        return;
    if (m_attempts >= kMaxAttempts || (sameRect(outerFrame(), *m_requested) && decorationsSettled())) {
        m_requested.reset();
        return;
    }
    apply();
    scheduleCheck();
}

bool GtkWindowFrame::decorationsSettled() const
{
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(m_window));
    if (!GDK_IS_X11_DISPLAY(display))
        return true;
    // Without a window manager that reports its frames nobody draws decorations.
    bool managerFrames = gdk_x11_screen_supports_net_wm_hint(gdk_display_get_default_screen(display),
        gdk_atom_intern_static_string("_NET_FRAME_EXTENTS"));
    Extents e = extents();
    bool framed = e.left || e.top || e.right || e.bottom;
    return framed == (managerFrames && titleBar() == TitleBar::Shown);
}

void GtkWindowFrame::applyFullscreenMonitors(const GdkRectangle& rect)
{
    // Window managers that keep undecorated windows on one monitor still let a full-screen
    // window span the monitors it is told to cover.
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(m_window));
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(m_window));
    std::vector<int> covered;
    if (GDK_IS_X11_DISPLAY(display) && titleBar() == TitleBar::Hidden) {
        for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
            GdkRectangle m;
            gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &m);
            GdkRectangle overlap;
            if (gdk_rectangle_intersect(&m, &rect, &overlap) && sameRect(overlap, m))
                covered.push_back(i);
        }
    }
    bool span = covered.size() > 1 && gdkWindow
        && gdk_x11_screen_supports_net_wm_hint(gdk_display_get_default_screen(display),
            gdk_atom_intern_static_string("_NET_WM_FULLSCREEN_MONITORS"));
    if (span) {
        GdkRectangle united {};
        int top = covered[0], bottom = covered[0], left = covered[0], right = covered[0];
        auto geometry = [&](int i) {
            GdkRectangle m;
            gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &m);
            return m;
        };
        united = geometry(covered[0]);
        for (int i : covered) {
            GdkRectangle m = geometry(i);
            gdk_rectangle_union(&united, &m, &united);
            if (m.y < geometry(top).y)
                top = i;
            if (m.y + m.height > geometry(bottom).y + geometry(bottom).height)
                bottom = i;
            if (m.x < geometry(left).x)
                left = i;
            if (m.x + m.width > geometry(right).x + geometry(right).width)
                right = i;
        }
        span = sameRect(united, rect);
        if (span) {
            ::Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
            XEvent event {};
            event.xclient.type = ClientMessage;
            event.xclient.window = GDK_WINDOW_XID(gdkWindow);
            event.xclient.message_type = gdk_x11_get_xatom_by_name_for_display(display, "_NET_WM_FULLSCREEN_MONITORS");
            event.xclient.format = 32;
            event.xclient.data.l[0] = top;
            event.xclient.data.l[1] = bottom;
            event.xclient.data.l[2] = left;
            event.xclient.data.l[3] = right;
            event.xclient.data.l[4] = 1;
            XSendEvent(xdisplay, GDK_WINDOW_XID(gdk_get_default_root_window()), False,
                SubstructureRedirectMask | SubstructureNotifyMask, &event);
            gtk_window_fullscreen(m_window);
            m_spanning = true;
            return;
        }
    }
    if (m_spanning) {
        gtk_window_unfullscreen(m_window);
        m_spanning = false;
    }
}

} // namespace penwick::platform

namespace penwick::platform {

void GtkWindowFrame::applyOnWayland(const GdkRectangle& want)
{
    // Full screen is the compositor's state on Wayland, and a window has it on one monitor: the
    // main one of those the frame covers.
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(m_window));
    std::vector<int> covered = titleBar() == TitleBar::Hidden ? coveredMonitors(display, want) : std::vector<int> {};
    GdkRectangle united = covered.empty() ? GdkRectangle {} : monitorGeometry(display, covered[0]);
    for (int i : covered) {
        GdkRectangle m = monitorGeometry(display, i);
        gdk_rectangle_union(&united, &m, &united);
    }
    if (!covered.empty() && sameRect(united, want)) {
        int main = covered[0];
        GdkMonitor* primary = gdk_display_get_primary_monitor(display);
        for (int i : covered) {
            if (gdk_display_get_monitor(display, i) == primary)
                main = i;
        }
        if (covered.size() > 1) {
            const char* model = gdk_monitor_get_model(gdk_display_get_monitor(display, main));
            logOnce(waylandNotices().oneMonitor,
                "full screen: on monitor " + std::string(model ? model : "") + " only; a Wayland window cannot span monitors, so the other "
                    + std::to_string(covered.size() - 1) + " stay uncovered");
        }
        gtk_window_fullscreen_on_monitor(m_window, gtk_window_get_screen(m_window), main);
        m_spanning = true;
        return;
    }
    if (m_spanning) {
        gtk_window_unfullscreen(m_window);
        m_spanning = false;
    }
    // The compositor places the window; its size is ours to ask for.
    gtk_window_resize(m_window, std::max(1, want.width), std::max(1, want.height - drawnTitleBarHeight(m_window)));
}

} // namespace penwick::platform
