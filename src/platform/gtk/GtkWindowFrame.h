#pragma once

#include <gtk/gtk.h>
#include <memory>
#include <optional>

#include "base/GRef.h"
#include "platform/Registration.h"
#include "platform/Window.h"
#include "platform/glib/MainLoopTimer.h"

namespace penwick::platform {

// The window operations of full screen and fixed size on a GTK top-level window: outer frame
// (decorations included), decorations, level and hiding while the application is inactive.
class GtkWindowFrame {
public:
    explicit GtkWindowFrame(GtkWindow* window);
    ~GtkWindowFrame();
    GtkWindowFrame(const GtkWindowFrame&) = delete;
    GtkWindowFrame& operator=(const GtkWindowFrame&) = delete;

    TitleBar titleBar() const;
    void setTitleBar(TitleBar titleBar);
    void setLevel(WindowLevel level);
    void setHidesOnDeactivate(HidesOnDeactivate hides);
    Rect frame() const;
    void setFrame(Rect frame);

private:
    struct Extents {
        int left = 0, top = 0, right = 0, bottom = 0;
    };
    // y down, root coordinates.
    GdkRectangle outerFrame() const;
    Extents extents() const;
    void apply();
    void request(const GdkRectangle& want);
    void scheduleCheck();
    void check();
    void release();
    // Whether the window manager has put on or taken off the decorations the title bar asks for.
    bool decorationsSettled() const;
    void applyFullscreenMonitors(const GdkRectangle& rect);
    void applyOnWayland(const GdkRectangle& want);
    void resignActive();
    void becomeActive();

    GtkWindow* m_window;
    // The outer frame asked for, until the window has it: decorations are known only once the
    // window manager has framed the window, so the client size is worked out again then.
    std::optional<GdkRectangle> m_requested;
    // The last frame set, where the window returns when the application is activated again.
    std::optional<GdkRectangle> m_lastSet;
    int m_attempts = 0;
    MainLoopTimer m_check;
    // The compositor's full-screen state holds the frame (several monitors on X11, one on Wayland).
    bool m_spanning = false;
    TitleBar m_waylandTitleBar = TitleBar::Shown;
    SignalConnection m_configure;
    SignalConnection m_map;
    SignalConnection m_property;
    std::unique_ptr<Registration> m_resign;
    std::unique_ptr<Registration> m_become;
};

} // namespace penwick::platform
