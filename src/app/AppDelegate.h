#pragma once

#include <memory>

#include "app/MainViewController.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace penwick {

// Holds the main window and the host window controller for the life of the application.
class AppDelegate {
public:
    AppDelegate();
    ~AppDelegate();

    void applicationWillFinishLaunching();

    void setWindow(std::unique_ptr<platform::Window> window) { m_window = std::move(window); }
    void setWebView(std::unique_ptr<platform::WebView> webView) { m_webView = std::move(webView); }
    void setViewController(std::unique_ptr<MainViewController> vc) { m_viewController = std::move(vc); }
    platform::Window* window() const { return m_window.get(); }
    platform::WebView* webView() const { return m_webView.get(); }
    MainViewController* viewController() const { return m_viewController.get(); }

private:
    // Destroyed in reverse: controller (and its plugins) before the web view and the window.
    std::unique_ptr<platform::Window> m_window;
    std::unique_ptr<platform::WebView> m_webView;
    std::unique_ptr<MainViewController> m_viewController;
};

} // namespace penwick
