#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/Pointer.h"

namespace penwick::platform {

// The pointer on GTK: hidden over the application's own windows only (a blank cursor on each), so
// that it never stays hidden over another application. On X11 movement over other applications
// is heard through XInput2 raw motion and, while the pointer is hidden, by polling its position
// (synthetic input and warps make no raw events); Wayland tells an application nothing of it.
// The mode in force is logged once, on first use. Main thread only.
class GtkPointer final : public Pointer {
public:
    GtkPointer();
    ~GtkPointer() override;

    void hide() override;
    void show() override;
    std::unique_ptr<Registration> addLocalMovementMonitor(MovementHandler handler) override;
    std::unique_ptr<Registration> addGlobalMovementMonitor(MovementHandler handler) override;
    std::unique_ptr<Registration> observeDidBecomeActive(std::function<void()> handler) override;

private:
    struct X11State;
    void detectMode();
    void setWindowCursorsHidden(bool hidden);
    void startRawMotion();
    void readRawEvents();
    void startPolling();
    void globalMovement();

    bool m_detected = false;
    bool m_hidden = false;
    std::unique_ptr<X11State> m_x11;
    std::unique_ptr<Registration> m_windowsHiddenOnFocus;
    int m_nextId = 1;
    std::shared_ptr<std::map<int, MovementHandler>> m_globalHandlers = std::make_shared<std::map<int, MovementHandler>>();
};

} // namespace penwick::platform
