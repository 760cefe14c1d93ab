#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/PopupWindow.h"
#include "platform/WebViewClient.h"

namespace penwick {

namespace platform {
class Dialogs;
}

// The popup web window: a second window whose web view shows pages that must not replace the
// main page, above all the social-network login. It shows web pages only (http and https), and
// watches every navigation of its view; one of its main frame (never of a frame inside a page)
// that reaches the login landing page hands that page's full URL to the main page's
// `window.app.snsLogin` and closes the popup: once each time the popup is shown (a redirect chain
// through the landing page hands over its first landing URL only), and only for a navigation that
// the popup's own page or the user chose, never one a frame of another origin may have chosen, and
// only to one of the app's own documents in the main window, never another site shown there.
// Its pages get no bridge. Main thread only.
class PopupWindowController final : public platform::WebViewClient {
public:
    // `landingURL`: the full URL prefix of the social-login landing page. `dialogs` (may be null)
    // answer the popup pages' alerts and questions.
    PopupWindowController(std::unique_ptr<platform::PopupWindow> window, std::string landingURL, platform::Dialogs* dialogs);
    ~PopupWindowController() override;
    PopupWindowController(const PopupWindowController&) = delete;
    PopupWindowController& operator=(const PopupWindowController&) = delete;

    platform::PopupWindow& window() { return *m_window; }
    platform::WebView& webView() { return m_window->webView(); }
    // Shows the window, or brings it forward when it is shown.
    void showWindow()
    {
        m_handedOver = false;
        m_window->show();
    }
    // The main page's web view, where the landing URL is handed over.
    platform::WebView* gWebView() const { return m_gWebView; }
    void setGWebView(platform::WebView* webView) { m_gWebView = webView; }

    // The script that hands `url` to the main page, with the URL as an escaped string literal.
    static std::string snsLoginScript(std::string_view url);
    // Why the popup must not load `url` (anything but an http or https page: a script, a file,
    // data or the app's own files), or nothing when it may.
    static std::optional<std::string> refusal(std::string_view url);

    void didClearWindowObject(platform::WindowObject& window) override;
    void addMessageToConsole(const platform::ConsoleMessage& message) override;
    platform::PolicyDecision decidePolicyForNavigation(const std::string& url) override;
    void didStartMainFrameNavigation(const std::string& url, platform::NavigationChooser chooser) override;
    void runJavaScriptAlertPanel(const std::string& message, const platform::DialogAsker& asker) override;
    bool runJavaScriptConfirmPanel(const std::string& message, const platform::DialogAsker& asker) override;
    bool runBeforeUnloadConfirmPanel(const std::string& message, const platform::DialogAsker& asker) override;
    std::optional<std::string> runJavaScriptTextInputPanel(const std::string& prompt, const std::string& defaultText,
        const platform::DialogAsker& asker) override;
    std::optional<std::vector<std::string>> runOpenPanel(
        platform::AllowMultipleFiles multiple, const std::vector<std::string>& accept, const platform::DialogAsker& asker) override;
    // The popup shows web pages, never the app's own: all they ask for is denied, with a line.
    platform::PermissionAnswer decidePermission(const platform::PermissionRequest& request) override;

private:
    std::unique_ptr<platform::PopupWindow> m_window;
    std::string m_landingURL;
    platform::Dialogs* m_dialogs;
    platform::WebView* m_gWebView = nullptr;
    // The landing URL has been handed over since the popup was last shown.
    bool m_handedOver = false;
};

} // namespace penwick
