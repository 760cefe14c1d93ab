#pragma once

#include <webkit2/webkit2.h>

#include "base/GRef.h"

namespace penwick::platform {

// The web inspector of the app's page, in a window of its own.
class GtkInspectorWindow {
public:
    // Moves the inspector of `view` out whenever the engine docks it, while the connection lives.
    [[nodiscard]] static SignalConnection keepDetached(WebKitWebView* view);
};

} // namespace penwick::platform
