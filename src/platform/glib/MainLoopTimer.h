#pragma once

#include <functional>

namespace penwick::platform {

// A one-shot timeout on the default main context, held by its owner: starting it again replaces
// the pending one, and stopping it or destroying it removes it.
class MainLoopTimer {
public:
    MainLoopTimer() = default;
    ~MainLoopTimer() { stop(); }
    MainLoopTimer(const MainLoopTimer&) = delete;
    MainLoopTimer& operator=(const MainLoopTimer&) = delete;

    // `fire` runs once after `milliseconds`; it may start the timer again or destroy its owner.
    void start(unsigned milliseconds, std::function<void()> fire);
    void stop();
    bool active() const { return m_source != 0; }

private:
    unsigned m_source = 0;
    std::function<void()> m_fire;
};

} // namespace penwick::platform
