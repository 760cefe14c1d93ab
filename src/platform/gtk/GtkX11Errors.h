#pragma once

namespace penwick::platform {

// X errors about windows that are gone. Another client may destroy the app's window at any
// moment (a window manager's kill, `xdotool windowclose`); requests GDK or the engine had already
// made for it then fail with BadWindow or BadDrawable, which GDK answers by ending the process at
// once. Those errors are harmless: the window's destruction reaches GTK as an event and the host
// ends the normal way. Other errors still go to GDK.
class GtkX11Errors {
public:
    // After the display is open; nothing off X11.
    static void tolerateDestroyedWindows();
};

} // namespace penwick::platform
