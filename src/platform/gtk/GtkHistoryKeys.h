#pragma once

#include <webkit2/webkit2.h>

namespace penwick::platform {

// The history keys and buttons of the app's page: Alt+Left and Alt+Right, the Back and Forward
// keys, the mouse's back and forward buttons. Each goes back or forward where the page can.
class GtkHistoryKeys {
public:
    // Whether the event was one of them.
    static bool key(WebKitWebView* view, const GdkEventKey& event);
    static bool button(WebKitWebView* view, const GdkEventButton& event);
};

} // namespace penwick::platform
