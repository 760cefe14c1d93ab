#pragma once

#include <webkit2/webkit2.h>

namespace penwick::platform {

// The page's context menu as an app offers it.
class GtkContextMenu {
public:
    // Keeps what an app offers (editing and copying): a browser's items go, and the separators
    // they leave behind.
    static void trim(WebKitContextMenu* menu);
};

} // namespace penwick::platform
