#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/Pointer.h"

namespace penwick::platform {

// The pointer on GTK. On X11 with XFixes and XInput2 it is hidden for the whole display and
// movement over other applications is heard through XInput2 raw motion; elsewhere (Wayland, or
// an X server without those extensions) it is hidden over the application's own windows only.
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

    bool m_detected = false;
    bool m_hidden = false;
    std::unique_ptr<X11State> m_x11;
    std::unique_ptr<Registration> m_windowsHiddenOnFocus;
    int m_nextId = 1;
    std::shared_ptr<std::map<int, MovementHandler>> m_globalHandlers = std::make_shared<std::map<int, MovementHandler>>();
};

} // namespace penwick::platform
