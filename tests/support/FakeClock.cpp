#include "support/FakeClock.h"

namespace penwick::test {
std::unique_ptr<platform::Registration> FakeClock::scheduleRepeating(double intervalSeconds, std::function<void()> fire)
{
    int id = m_nextId++;
    (*m_timers)[id] = Timer { intervalSeconds, m_now + intervalSeconds, std::move(fire) };
    return std::make_unique<ErasingRegistration<std::map<int, Timer>>>(m_timers, id);
}

void FakeClock::advance(double seconds)
{
    double end = m_now + seconds;
    for (;;) {
        auto next = m_timers->end();
        for (auto it = m_timers->begin(); it != m_timers->end(); ++it) {
            if (it->second.due <= end && (next == m_timers->end() || it->second.due < next->second.due))
                next = it;
        }
        if (next == m_timers->end())
            break;
        m_now = next->second.due;
        next->second.due += next->second.interval;
        auto fire = next->second.fire;
        fire();
    }
    m_now = end;
}

} // namespace penwick::test
