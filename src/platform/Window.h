#pragma once

namespace penwick::platform {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;
};

// The host window. Geometry and full screen are added by the display subsystem.
class Window {
public:
    virtual ~Window() = default;
    virtual void setBackgroundColor(Rgba color) = 0;
    // Shows the window, makes it key and brings it to the front.
    virtual void showAndMakeKey() = 0;
    // Activates the application, ignoring other applications.
    virtual void activateApplication() = 0;
};

} // namespace penwick::platform
