#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/Clock.h"
#include "support/ErasingRegistration.h"

namespace penwick::test {

// A clock that stands still and holds the repeating timers it is given without firing them: the
// tests over it check what is scheduled and dropped; timing itself is checked end to end.
class FakeClock : public platform::Clock {
public:
    double now() const override { return 1000; }
    std::unique_ptr<platform::Registration> scheduleRepeating(double, std::function<void()> fire) override
    {
        int id = m_nextId++;
        (*m_timers)[id] = std::move(fire);
        return std::make_unique<ErasingRegistration<std::map<int, std::function<void()>>>>(m_timers, id);
    }
    size_t timerCount() const { return m_timers->size(); }

private:
    int m_nextId = 1;
    std::shared_ptr<std::map<int, std::function<void()>>> m_timers = std::make_shared<std::map<int, std::function<void()>>>();
};

} // namespace penwick::test
