#pragma once

#include <functional>
#include <memory>

#include "platform/Geometry.h"
#include "platform/Registration.h"

namespace penwick::platform {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;
};

// Whether the window has its title bar (and the rest of the decorations).
enum class TitleBar { Shown, Hidden };
// Normal windows, or kept above other windows (the status-window level).
enum class WindowLevel { Normal, StatusWindow };
// Whether the window goes out of sight while the application is not active.
enum class HidesOnDeactivate { Off, On };
// Whether the window fills its monitor's work area at the user's (or window manager's) request.
enum class Maximized { No, Yes };

// The host window.
class Window {
public:
    virtual ~Window() = default;
    virtual void setBackgroundColor(Rgba color) = 0;
    // Shows the window, makes it key and brings it to the front.
    virtual void showAndMakeKey() = 0;
    // Activates the application, ignoring other applications.
    virtual void activateApplication() = 0;

    virtual TitleBar titleBar() const = 0;
    virtual void setTitleBar(TitleBar titleBar) = 0;
    virtual void setLevel(WindowLevel level) = 0;
    // When on, the window leaves the screen while the application is inactive and comes back to
    // its frame when the application is activated again.
    virtual void setHidesOnDeactivate(HidesOnDeactivate hides) = 0;
    // The outer frame (title bar included), y up.
    virtual Rect frame() const = 0;
    // Sets the outer frame and redraws at once.
    virtual void setFrame(Rect frame) = 0;
    // Platforms without the notion keep a window that is never maximised.
    virtual Maximized maximized() const { return Maximized::No; }
    virtual void setMaximized(Maximized) { }
    // Calls `changed` once the frame or the maximised state has settled after a change (a move,
    // a resize or a maximise by the user or the window manager); nothing where the platform
    // reports no such changes.
    virtual std::unique_ptr<Registration> onFrameChanged(std::function<void()> changed)
    {
        (void)changed;
        return nullptr;
    }
};

} // namespace penwick::platform
