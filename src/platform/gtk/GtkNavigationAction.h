#pragma once

#include <webkit2/webkit2.h>

#include "platform/WebViewClient.h"

namespace penwick::platform {

// The engine's navigation action in the host's terms.
class GtkNavigationAction {
public:
    // The URL, kind and user gesture of `action`; the rest is the view's to fill in.
    static NavigationRequest request(WebKitNavigationAction* action);
};

} // namespace penwick::platform
