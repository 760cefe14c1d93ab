#pragma once

#include <memory>

#include "platform/Clock.h"
#include "platform/Pointer.h"
#include "platform/Registration.h"

namespace penwick {

// Hides the mouse pointer after `timeout` seconds without movement (checked once a second), or
// all the time while the application is active when the timeout is 0 or less. Main thread only.
class WHCursorMonitorService {
public:
    WHCursorMonitorService(platform::Pointer& pointer, platform::Clock& clock);
    ~WHCursorMonitorService();
    WHCursorMonitorService(const WHCursorMonitorService&) = delete;
    WHCursorMonitorService& operator=(const WHCursorMonitorService&) = delete;

    // The process-wide instance, made on the first call with that call's pointer and clock, and
    // never released.
    static WHCursorMonitorService& service(platform::Pointer& pointer, platform::Clock& clock);

    // Ignored while running: the first timeout given wins.
    void startWithTimeout(double timeout);
    // Ignored while stopped. Shows the pointer.
    void stop();
    // The idle check: hides the pointer once `timeout` seconds have passed since the last movement.
    void handleCursorHideTimerFire();

    bool isRunning() const { return m_isRunning; }
    double cursorLastMovedTime() const { return m_cursorLastMovedTime; }

private:
    void mouseMoved();

    platform::Pointer& m_pointer;
    platform::Clock& m_clock;
    double m_cursorLastMovedTime = 0;
    std::unique_ptr<platform::Registration> m_cursorHideTimer;
    std::unique_ptr<platform::Registration> m_localMonitor;
    std::unique_ptr<platform::Registration> m_globalMonitor;
    std::unique_ptr<platform::Registration> m_didBecomeActive;
    bool m_isRunning = false;
    double m_timeout = 0;
};

} // namespace penwick
