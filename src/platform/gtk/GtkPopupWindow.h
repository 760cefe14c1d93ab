#pragma once

#include <gtk/gtk.h>
#include <memory>
#include <string>

#include "base/GRef.h"
#include "platform/PopupWindow.h"

namespace penwick::platform {

class GtkEngineContext;
class GtkWebView;

// The popup: a top-level window (window role "penwick-popup") holding one GtkWebView on the shared
// engine context, titled like its page once the page has a title. Closing it (or Ctrl+W) hides it; it is
// destroyed with this object.
class GtkPopupWindow final : public PopupWindow {
public:
    GtkPopupWindow(GtkApplication* application, GtkEngineContext& engine, const std::string& title, int width, int height);
    ~GtkPopupWindow() override;

    WebView& webView() override;
    void show() override;
    void close() override;
    bool isVisible() const override;

private:
    GtkWindow* m_window = nullptr; // one reference of ours
    std::unique_ptr<GtkWebView> m_webView;
    SignalConnection m_deleteEvent;
    SignalConnection m_keyPress;
    SignalConnection m_titleChanged;
};

} // namespace penwick::platform
