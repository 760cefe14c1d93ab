#pragma once

namespace penwick::platform {

// One scale for the app's pixels, taken from the desktop once at start-up. A desktop says "twice
// as dense" either with a window scale or, on X11 without one, with a font resolution alone
// (Xft.dpi: 192). Taken as it stands, the second zooms the page while its device pixels stay
// coarse, and with both the page is scaled twice. Here a font resolution of whole multiples of
// 96 becomes the window scale, and the font resolution GTK applies is what remains per logical
// pixel, so dialogs and page alike are scaled once.
class GtkDisplayScale {
public:
    // After the display is open, before any window is; nothing off X11.
    static void followDesktop();
    // The engine multiplies its zoom with the screen's font resolution (over 96 dpi), which
    // shrinks the page's CSS viewport; the zoom to give it so the page sees `level` alone.
    static double engineZoom(double level);
};

} // namespace penwick::platform
