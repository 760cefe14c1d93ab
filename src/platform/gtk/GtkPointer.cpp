#include "platform/gtk/GtkPointer.h"

#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <vector>
#include <X11/extensions/XInput2.h>

#include "base/GRef.h"
#include "base/Log.h"
#include "platform/gtk/GtkAppEvents.h"

namespace penwick::platform {
namespace {
constexpr unsigned kPollMilliseconds = 150;
} // namespace

struct GtkPointer::X11State {
    ::Display* display = nullptr;
    ::Window root = 0;
    // Raw motion arrives on a connection of its own, so that GDK's event selections on the root
    // window and ours cannot overwrite each other.
    ::Display* rawDisplay = nullptr;
    int xiOpcode = -1;
    unsigned rawSource = 0;
    // Buttons held, from raw button events: movement with any but the first does not count.
    unsigned heldButtons = 0;
    // While the pointer is hidden, its position is polled: synthetic input (XTEST, as remote
    // control tools and xdotool make it) and warps move it without raw events.
    unsigned pollSource = 0;
    int lastX = 0, lastY = 0;

    ~X11State()
    {
        if (rawSource)
            g_source_remove(rawSource);
        if (pollSource)
            g_source_remove(pollSource);
        if (rawDisplay)
            XCloseDisplay(rawDisplay);
    }

    bool position(int& x, int& y) const
    {
        ::Window rootReturn = 0, child = 0;
        int windowX = 0, windowY = 0;
        unsigned mask = 0;
        return XQueryPointer(display, root, &rootReturn, &child, &x, &y, &windowX, &windowY, &mask);
    }
};

namespace {

class MapRegistration final : public Registration {
public:
    MapRegistration(const std::shared_ptr<std::map<int, Pointer::MovementHandler>>& map, int id)
        : m_map(map)
        , m_id(id)
    {
    }
    ~MapRegistration() override
    {
        if (auto map = m_map.lock())
            map->erase(m_id);
    }

private:
    std::weak_ptr<std::map<int, Pointer::MovementHandler>> m_map;
    int m_id;
};

// Nothing to remove: the monitor this platform cannot offer.
class NoRegistration final : public Registration { };

void setCursorRecursively(GdkWindow* window, GdkCursor* cursor)
{
    gdk_window_set_cursor(window, cursor);
    GUnique<GList> children(gdk_window_get_children(window));
    for (GList* l = children.get(); l; l = l->next)
        setCursorRecursively(GDK_WINDOW(l->data), cursor);
}

} // namespace

GtkPointer::GtkPointer() = default;

// The X server drops a client's hides when it disconnects; nothing to undo here.
GtkPointer::~GtkPointer() = default;

void GtkPointer::detectMode()
{
    if (m_detected)
        return;
    m_detected = true;
    GdkDisplay* display = gdk_display_get_default();
    if (display && GDK_IS_X11_DISPLAY(display)) {
        m_x11 = std::make_unique<X11State>();
        m_x11->display = GDK_DISPLAY_XDISPLAY(display);
        m_x11->root = DefaultRootWindow(m_x11->display);
        m_x11->rawDisplay = XOpenDisplay(DisplayString(m_x11->display));
        int opcode = 0, event = 0, error = 0;
        if (m_x11->rawDisplay && XQueryExtension(m_x11->rawDisplay, "XInputExtension", &opcode, &event, &error)) {
            // Raw events reach root-window listeners whoever has the focus since version 2.1.
            int xiMajor = 2, xiMinor = 1;
            if (XIQueryVersion(m_x11->rawDisplay, &xiMajor, &xiMinor) == Success && (xiMajor > 2 || xiMinor >= 1))
                m_x11->xiOpcode = opcode;
        }
    }
    // Over other applications the pointer stays theirs: hidden over this application's windows only.
    if (m_x11 && m_x11->xiOpcode >= 0)
        log::message("pointer: hidden over this application's windows only; movement over other applications from XInput2 raw motion and the pointer's position");
    else if (m_x11)
        log::message("pointer: hidden over this application's windows only; movement over other applications from the pointer's position");
    else
        log::message("pointer: hidden over this application's windows only; movement over other applications is not seen");
}

void GtkPointer::hide()
{
    detectMode();
    if (m_hidden)
        return;
    m_hidden = true;
    setWindowCursorsHidden(true);
    // Windows that appear later and page hover changes set cursors of their own; cover them
    // again whenever the application comes to the front.
    if (!m_windowsHiddenOnFocus) {
        m_windowsHiddenOnFocus = GtkAppEvents::shared().onDidBecomeActive([this] {
            if (m_hidden)
                setWindowCursorsHidden(true);
        });
    }
    startPolling();
}

void GtkPointer::show()
{
    detectMode();
    if (!m_hidden)
        return;
    m_hidden = false;
    setWindowCursorsHidden(false);
    if (m_x11 && m_x11->pollSource) {
        g_source_remove(m_x11->pollSource);
        m_x11->pollSource = 0;
    }
}

void GtkPointer::startPolling()
{
    if (!m_x11 || m_x11->pollSource || m_globalHandlers->empty() || !m_x11->position(m_x11->lastX, m_x11->lastY))
        return;
    m_x11->pollSource = g_timeout_add(kPollMilliseconds, +[](gpointer data) -> gboolean {
        auto* self = static_cast<GtkPointer*>(data);
        X11State& x11 = *self->m_x11;
        int x = 0, y = 0;
        if (!x11.position(x, y) || (x == x11.lastX && y == x11.lastY))
            return G_SOURCE_CONTINUE;
        x11.lastX = x;
        x11.lastY = y;
        // The handlers show the pointer, which ends the polling: the source is gone by then.
        x11.pollSource = 0;
        self->globalMovement();
        if (self->m_hidden && !x11.pollSource)
            self->startPolling();
        return G_SOURCE_REMOVE;
    }, this);
}

void GtkPointer::setWindowCursorsHidden(bool hidden)
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return;
    GRef<GdkCursor> blank = hidden ? adopt(gdk_cursor_new_for_display(display, GDK_BLANK_CURSOR)) : GRef<GdkCursor>();
    GUnique<GList> toplevels(gtk_window_list_toplevels());
    for (GList* l = toplevels.get(); l; l = l->next) {
        if (GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(l->data)))
            setCursorRecursively(window, blank.get());
    }
}

std::unique_ptr<Registration> GtkPointer::addLocalMovementMonitor(MovementHandler handler)
{
    detectMode();
    return GtkAppEvents::shared().onPointerMoved(std::move(handler));
}

std::unique_ptr<Registration> GtkPointer::addGlobalMovementMonitor(MovementHandler handler)
{
    detectMode();
    if (!m_x11)
        return std::make_unique<NoRegistration>();
    if (m_x11->xiOpcode >= 0)
        startRawMotion();
    int id = m_nextId++;
    (*m_globalHandlers)[id] = std::move(handler);
    if (m_hidden)
        startPolling();
    return std::make_unique<MapRegistration>(m_globalHandlers, id);
}

std::unique_ptr<Registration> GtkPointer::observeDidBecomeActive(std::function<void()> handler)
{
    return GtkAppEvents::shared().onDidBecomeActive(std::move(handler));
}

void GtkPointer::startRawMotion()
{
    if (m_x11->rawSource)
        return;
    ::Display* raw = m_x11->rawDisplay;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawMotion);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XIEventMask mask { XIAllMasterDevices, sizeof bits, bits };
    XISelectEvents(raw, DefaultRootWindow(raw), &mask, 1);
    XFlush(raw);
    m_x11->rawSource = g_unix_fd_add(ConnectionNumber(raw), G_IO_IN, +[](int, GIOCondition, gpointer data) -> gboolean {
        static_cast<GtkPointer*>(data)->readRawEvents();
        return G_SOURCE_CONTINUE;
    }, this);
}

void GtkPointer::readRawEvents()
{
    ::Display* raw = m_x11->rawDisplay;
    bool moved = false;
    while (XPending(raw)) {
        XEvent event;
        XNextEvent(raw, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != m_x11->xiOpcode || !XGetEventData(raw, cookie))
            continue;
        auto* rawEvent = static_cast<XIRawEvent*>(cookie->data);
        unsigned bit = rawEvent->detail > 0 && rawEvent->detail < 32 ? 1u << rawEvent->detail : 0;
        switch (cookie->evtype) {
        case XI_RawButtonPress:
            m_x11->heldButtons |= bit;
            break;
        case XI_RawButtonRelease:
            m_x11->heldButtons &= ~bit;
            break;
        case XI_RawMotion: {
            // Scrolling moves scroll axes only; the pointer moves on the first two.
            const auto& valuators = rawEvent->valuators;
            bool pointerMoved = valuators.mask_len > 0 && (XIMaskIsSet(valuators.mask, 0) || XIMaskIsSet(valuators.mask, 1));
            moved |= pointerMoved && !(m_x11->heldButtons & ~(1u << 1));
            break;
        }
        default:
            break;
        }
        XFreeEventData(raw, cookie);
    }
    // A burst of events read at once is one movement.
    if (moved)
        globalMovement();
}

void GtkPointer::globalMovement()
{
    std::vector<MovementHandler> toRun;
    for (const auto& [id, handler] : *m_globalHandlers)
        toRun.push_back(handler);
    for (auto& handler : toRun)
        handler();
}

} // namespace penwick::platform
