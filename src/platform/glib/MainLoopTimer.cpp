#include "platform/glib/MainLoopTimer.h"

#include <glib.h>

namespace penwick::platform {

void MainLoopTimer::start(unsigned milliseconds, std::function<void()> fire)
{
    stop();
    m_fire = std::move(fire);
    m_source = g_timeout_add(
        milliseconds,
        +[](gpointer data) -> gboolean {
            auto* self = static_cast<MainLoopTimer*>(data);
            self->m_source = 0;
            // Taken out first: what it runs may start this timer again, or destroy it.
            auto fire = std::move(self->m_fire);
            fire();
            return G_SOURCE_REMOVE;
        },
        this);
}

void MainLoopTimer::stop()
{
    if (m_source)
        g_source_remove(m_source);
    m_source = 0;
    m_fire = nullptr;
}

} // namespace penwick::platform
