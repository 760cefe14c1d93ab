#include "platform/gtk/GtkPointer.h"

#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <vector>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>

#include "base/GRef.h"
#include "base/Log.h"
#include "platform/gtk/GtkAppEvents.h"

namespace penwick::platform {

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

    ~X11State()
    {
        if (rawSource)
            g_source_remove(rawSource);
        if (rawDisplay)
            XCloseDisplay(rawDisplay);
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
        auto state = std::make_unique<X11State>();
        state->display = GDK_DISPLAY_XDISPLAY(display);
        state->root = DefaultRootWindow(state->display);
        int event = 0, error = 0;
        int major = 0, minor = 0;
        // Hide and show arrived with version 4 of the extension.
        bool xfixes = XFixesQueryExtension(state->display, &event, &error) && XFixesQueryVersion(state->display, &major, &minor)
            && major >= 4;
        state->rawDisplay = XOpenDisplay(DisplayString(state->display));
        int opcode = 0;
        if (state->rawDisplay && XQueryExtension(state->rawDisplay, "XInputExtension", &opcode, &event, &error)) {
            // Raw events reach root-window listeners whoever has the focus since version 2.1.
            int xiMajor = 2, xiMinor = 1;
            if (XIQueryVersion(state->rawDisplay, &xiMajor, &xiMinor) == Success && (xiMajor > 2 || xiMinor >= 1))
                state->xiOpcode = opcode;
        }
        if (xfixes)
            m_x11 = std::move(state);
    }
    if (m_x11 && m_x11->xiOpcode >= 0) {
        log::message("pointer: hidden for the whole display (XFixes), movement over other applications from XInput2 raw motion");
    } else if (m_x11) {
        log::message("pointer: hidden for the whole display (XFixes); no XInput2, so movement over other applications is not seen");
    } else {
        log::message("pointer: hidden over this application's windows only; movement over other applications is not seen");
    }
}

void GtkPointer::hide()
{
    detectMode();
    if (m_hidden)
        return;
    m_hidden = true;
    // The X server counts hides per client: one outstanding hide at most, so one show undoes it.
    if (m_x11) {
        XFixesHideCursor(m_x11->display, m_x11->root);
        XFlush(m_x11->display);
        return;
    }
    setWindowCursorsHidden(true);
    // Windows that appear later and page hover changes set cursors of their own; cover them
    // again whenever the application comes to the front.
    if (!m_windowsHiddenOnFocus) {
        m_windowsHiddenOnFocus = GtkAppEvents::shared().onDidBecomeActive([this] {
            if (m_hidden)
                setWindowCursorsHidden(true);
        });
    }
}

void GtkPointer::show()
{
    detectMode();
    if (!m_hidden)
        return;
    m_hidden = false;
    if (m_x11) {
        XFixesShowCursor(m_x11->display, m_x11->root);
        XFlush(m_x11->display);
        return;
    }
    setWindowCursorsHidden(false);
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
    if (!m_x11 || m_x11->xiOpcode < 0)
        return std::make_unique<NoRegistration>();
    startRawMotion();
    int id = m_nextId++;
    (*m_globalHandlers)[id] = std::move(handler);
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
    if (!moved)
        return;
    std::vector<MovementHandler> toRun;
    for (const auto& [id, handler] : *m_globalHandlers)
        toRun.push_back(handler);
    for (auto& handler : toRun)
        handler();
}

} // namespace penwick::platform
