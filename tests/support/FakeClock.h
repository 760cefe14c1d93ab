#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/Clock.h"
#include "support/ErasingRegistration.h"

namespace penwick::test {

// A clock the test moves by hand; advance() fires the repeating timers that fall due, in time
// order, each with the clock set to its firing time.
class FakeClock : public platform::Clock {
public:
    double now() const override { return m_now; }
    std::unique_ptr<platform::Registration> scheduleRepeating(double intervalSeconds, std::function<void()> fire) override
    {
        int id = m_nextId++;
        (*m_timers)[id] = Timer { intervalSeconds, m_now + intervalSeconds, std::move(fire) };
        return std::make_unique<ErasingRegistration<std::map<int, Timer>>>(m_timers, id);
    }
    void advance(double seconds)
    {
        const double end = m_now + seconds;
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
    size_t timerCount() const { return m_timers->size(); }

private:
    struct Timer {
        double interval;
        double due;
        std::function<void()> fire;
    };
    double m_now = 1000;
    int m_nextId = 1;
    std::shared_ptr<std::map<int, Timer>> m_timers = std::make_shared<std::map<int, Timer>>();
};

} // namespace penwick::test
