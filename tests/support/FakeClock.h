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
    std::unique_ptr<platform::Registration> scheduleRepeating(double intervalSeconds, std::function<void()> fire) override;
    void advance(double seconds);
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
