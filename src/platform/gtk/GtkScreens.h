#pragma once

#include <gdk/gdk.h>

#include "platform/Screens.h"

namespace penwick::platform {

// GDK's monitors as screens. GDK places monitors y down from the top of the whole screen area;
// the host's rectangles have y up from the bottom edge of the primary monitor. The conversion
// happens here and nowhere else.
class GtkScreens final : public Screens {
public:
    std::vector<Screen> screens() const override;
    std::optional<Screen> mainScreen() const override;

    // y-down GDK rectangle <-> y-up host rectangle, on the current monitor layout.
    static Rect fromGdk(const GdkRectangle& rect);
    static GdkRectangle toGdk(const Rect& rect);
};

} // namespace penwick::platform
