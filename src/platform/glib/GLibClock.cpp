#include "platform/glib/GLibClock.h"

#include <glib.h>

namespace penwick::platform {
namespace {

class TimeoutRegistration final : public Registration {
public:
    TimeoutRegistration(double intervalSeconds, std::function<void()> fire)
    {
        auto* handler = new std::function<void()>(std::move(fire));
        m_sourceId = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(intervalSeconds * 1000), +[](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_CONTINUE;
        }, handler, +[](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    }
    ~TimeoutRegistration() override { g_source_remove(m_sourceId); }

private:
    guint m_sourceId = 0;
};

} // namespace

double GLibClock::now() const { return static_cast<double>(g_get_monotonic_time()) / G_USEC_PER_SEC; }

std::unique_ptr<Registration> GLibClock::scheduleRepeating(double intervalSeconds, std::function<void()> fire)
{
    return std::make_unique<TimeoutRegistration>(intervalSeconds, std::move(fire));
}

} // namespace penwick::platform
