#pragma once

#include <string>

#include "platform/WebView.h"

namespace penwick::platform {

// A second top-level window holding one web view on the application's shared engine context (so
// it shares cookies and storage with the main view). Closing it only hides it; the window and its
// view stay for the next show().
class PopupWindow {
public:
    virtual ~PopupWindow() = default;
    virtual WebView& webView() = 0;
    // Shows the window and brings it to the front, also when it is already shown.
    virtual void show() = 0;
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
};

} // namespace penwick::platform
