#pragma once

namespace penwick::platform {

// Screen geometry as the host's classes see it: points, origin at the bottom-left corner of the
// primary monitor, y growing upwards. The platform layer converts from and to its own
// coordinates once, at its edge.
struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
    double maxY() const { return y + height; }
    bool isEmpty() const { return width <= 0 || height <= 0; }
};

} // namespace penwick::platform
