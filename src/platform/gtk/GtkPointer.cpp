#include "platform/gtk/GtkPointer.h"

#include <gdk/gdkx.h>
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
    bool xfixes = false;
    int xiOpcode = -1;
    bool rawMotionSelected = false;
    // Buttons held, from raw button events: movement with any but the first does not count.
    unsigned heldButtons = 0;
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
        state->xfixes = XFixesQueryExtension(state->display, &event, &error) && XFixesQueryVersion(state->display, &major, &minor)
            && major >= 4;
        int opcode = 0;
        if (XQueryExtension(state->display, "XInputExtension", &opcode, &event, &error)) {
            // Raw events reach root-window listeners whoever has the focus since version 2.1;
            // GTK has already agreed on at least 2.2 where it uses XInput2.
            int xiMajor = 2, xiMinor = 3;
            gdk_x11_display_error_trap_push(display);
            int status = XIQueryVersion(state->display, &xiMajor, &xiMinor);
            gdk_x11_display_error_trap_pop_ignored(display);
            if (status == Success && (xiMajor > 2 || (xiMajor == 2 && xiMinor >= 1)))
                state->xiOpcode = opcode;
        }
        if (state->xfixes)
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
    if (m_x11->rawMotionSelected)
        return;
    m_x11->rawMotionSelected = true;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawMotion);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XIEventMask mask { XIAllMasterDevices, sizeof bits, bits };
    XISelectEvents(m_x11->display, m_x11->root, &mask, 1);
    XFlush(m_x11->display);
    // GDK fetches the generic event's data before filters run; the filter only reads it.
    gdk_window_add_filter(nullptr, +[](GdkXEvent* xevent, GdkEvent*, gpointer data) -> GdkFilterReturn {
        auto* self = static_cast<GtkPointer*>(data);
        auto* event = static_cast<XEvent*>(xevent);
        if (event->type != GenericEvent || event->xcookie.extension != self->m_x11->xiOpcode || !event->xcookie.data)
            return GDK_FILTER_CONTINUE;
        auto* raw = static_cast<XIRawEvent*>(event->xcookie.data);
        unsigned bit = raw->detail > 0 && raw->detail < 32 ? 1u << raw->detail : 0;
        switch (event->xcookie.evtype) {
        case XI_RawButtonPress:
            self->m_x11->heldButtons |= bit;
            break;
        case XI_RawButtonRelease:
            self->m_x11->heldButtons &= ~bit;
            break;
        case XI_RawMotion: {
            // Scrolling moves scroll axes only; the pointer moves on the first two.
            const auto& valuators = raw->valuators;
            bool moved = valuators.mask_len > 0 && (XIMaskIsSet(valuators.mask, 0) || XIMaskIsSet(valuators.mask, 1));
            if (moved && !(self->m_x11->heldButtons & ~(1u << 1))) {
                std::vector<MovementHandler> toRun;
                for (const auto& [id, handler] : *self->m_globalHandlers)
                    toRun.push_back(handler);
                for (auto& handler : toRun)
                    handler();
            }
            break;
        }
        default:
            break;
        }
        return GDK_FILTER_CONTINUE;
    }, this);
}

} // namespace penwick::platform
