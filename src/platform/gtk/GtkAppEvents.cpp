#include "platform/gtk/GtkAppEvents.h"

#include <vector>

#include "base/GRef.h"

namespace penwick::platform {
namespace {

class HandlerRegistration final : public Registration {
public:
    template<typename Map>
    HandlerRegistration(const std::shared_ptr<Map>& handlers, int id)
        : m_remove([weak = std::weak_ptr<Map>(handlers), id] {
            if (auto handlers = weak.lock())
                handlers->erase(id);
        })
    {
    }
    ~HandlerRegistration() override { m_remove(); }

private:
    std::function<void()> m_remove;
};

bool anyWindowActive()
{
    GUnique<GList> toplevels(gtk_window_list_toplevels());
    for (GList* l = toplevels.get(); l; l = l->next) {
        if (gtk_window_is_active(GTK_WINDOW(l->data)))
            return true;
    }
    return false;
}

} // namespace

GtkAppEvents& GtkAppEvents::shared()
{
    static auto* s_events = new GtkAppEvents();
    return *s_events;
}

GtkAppEvents::GtkAppEvents()
{
    // GTK dispatches every event through this one handler; ours looks and hands each event on.
    gdk_event_handler_set(&GtkAppEvents::handleEvent, this, nullptr);
}

std::unique_ptr<Registration> GtkAppEvents::add(Kind kind, Handler handler)
{
    int id = m_nextId++;
    (*m_handlers)[id] = Entry { kind, std::move(handler) };
    return std::make_unique<HandlerRegistration>(m_handlers, id);
}

void GtkAppEvents::emit(Kind kind)
{
    // Handlers may add or remove registrations while they run.
    std::vector<Handler> toRun;
    for (const auto& [id, entry] : *m_handlers) {
        if (entry.kind == kind)
            toRun.push_back(entry.handler);
    }
    for (auto& handler : toRun)
        handler();
}

void GtkAppEvents::handleEvent(GdkEvent* event, gpointer data)
{
    auto* self = static_cast<GtkAppEvents*>(data);
    gtk_main_do_event(event);
    switch (event->type) {
    case GDK_FOCUS_CHANGE:
        // Focus moving between two of our windows arrives as an out and an in: decide once both
        // have been handled.
        if (!self->m_checkSource) {
            self->m_checkSource = g_idle_add(+[](gpointer data) -> gboolean {
                auto* self = static_cast<GtkAppEvents*>(data);
                self->m_checkSource = 0;
                self->checkActivation();
                return G_SOURCE_REMOVE;
            }, self);
        }
        break;
    case GDK_MOTION_NOTIFY: {
        constexpr unsigned otherButtons = GDK_BUTTON2_MASK | GDK_BUTTON3_MASK | GDK_BUTTON4_MASK | GDK_BUTTON5_MASK;
        if (!(event->motion.state & otherButtons))
            self->emit(Kind::PointerMoved);
        break;
    }
    default:
        break;
    }
}

void GtkAppEvents::checkActivation()
{
    bool active = anyWindowActive();
    if (active == m_active)
        return;
    m_active = active;
    emit(active ? Kind::BecomeActive : Kind::ResignActive);
}

} // namespace penwick::platform
