#include "display/WHCursorMonitorService.h"

namespace penwick {

WHCursorMonitorService::WHCursorMonitorService(platform::Pointer& pointer, platform::Clock& clock)
    : m_pointer(pointer)
    , m_clock(clock)
{
}

// The registrations go first so that no handler runs into a half-destroyed service.
WHCursorMonitorService::~WHCursorMonitorService()
{
    m_cursorHideTimer.reset();
    m_localMonitor.reset();
    m_globalMonitor.reset();
    m_didBecomeActive.reset();
}

WHCursorMonitorService& WHCursorMonitorService::service(platform::Pointer& pointer, platform::Clock& clock)
{
    // A function-local static is made exactly once, also under concurrent first calls.
    static auto* s_service = new WHCursorMonitorService(pointer, clock);
    return *s_service;
}

void WHCursorMonitorService::startWithTimeout(double timeout)
{
    if (m_isRunning)
        return;
    m_timeout = timeout;
    m_cursorLastMovedTime = m_clock.now();
    if (timeout > 0) {
        // The handlers die with the registrations this service owns.
        m_localMonitor = m_pointer.addLocalMovementMonitor([this] { mouseMoved(); });
        m_globalMonitor = m_pointer.addGlobalMovementMonitor([this] { mouseMoved(); });
        m_cursorHideTimer = m_clock.scheduleRepeating(1.0, [this] { handleCursorHideTimerFire(); });
    } else {
        m_didBecomeActive = m_pointer.observeDidBecomeActive([this] { handleCursorHideTimerFire(); });
        m_pointer.hide();
    }
    m_isRunning = true;
}

void WHCursorMonitorService::stop()
{
    if (!m_isRunning)
        return;
    m_localMonitor.reset();
    m_globalMonitor.reset();
    m_cursorHideTimer.reset();
    m_didBecomeActive.reset();
    m_pointer.show();
    m_isRunning = false;
}

void WHCursorMonitorService::handleCursorHideTimerFire()
{
    if (m_clock.now() - m_cursorLastMovedTime >= m_timeout)
        m_pointer.hide();
}

void WHCursorMonitorService::mouseMoved()
{
    m_cursorLastMovedTime = m_clock.now();
    m_pointer.show();
}

} // namespace penwick
