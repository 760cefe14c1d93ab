#pragma once

#include <webkit2/webkit2.h>

namespace penwick::platform {

// One scale for the app's pixels, taken from the desktop once at start-up. A desktop says "twice
// as dense" either with a window scale or, on X11 without one, with a font resolution alone
// (Xft.dpi: 192). Taken as it stands, the second zooms the page while its device pixels stay
// coarse, and with both the page is scaled twice. Here a font resolution from 1.5 times 96 dpi up
// becomes the nearest whole window scale, and the font resolution GTK applies is what remains per
// logical pixel, so dialogs and page alike are scaled once.
class GtkDisplayScale {
public:
    // After the display is open, before any window is; nothing off X11.
    static void followDesktop();
    // Zooms the view's page to `level`. The engine multiplies its zoom with the screen's font
    // resolution (over 96 dpi), which would shrink the page's CSS viewport: the view is given the
    // zoom that leaves `level` alone, now and whenever the resolution changes.
    static void setZoom(WebKitWebView* view, double level);
};

} // namespace penwick::platform
