#include "app/PopupWindowController.h"

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "bridge/WHCommandDelegateImpl.h"
#include "host/WHPermissionPolicy.h"
#include "host/WHWebViewDelegate.h"
#include "platform/Dialogs.h"

namespace penwick {

PopupWindowController::PopupWindowController(std::unique_ptr<platform::PopupWindow> window, std::string landingURL, platform::Dialogs* dialogs)
    : m_window(std::move(window))
    , m_landingURL(std::move(landingURL))
    , m_dialogs(dialogs)
{
    m_window->webView().setClient(this);
}

PopupWindowController::~PopupWindowController() { m_window->webView().setClient(nullptr); }

std::string PopupWindowController::snsLoginScript(std::string_view url)
{
    // The URL comes from the network: escaped, a quote in its query cannot end the literal.
    return "window.app.snsLogin('" + WHCommandDelegateImpl::escapeForSingleQuotedLiteral(url) + "')";
}

// Popup pages are outside the application: no hostbridge, and the engine's own console.
void PopupWindowController::didClearWindowObject(platform::WindowObject&) { }

void PopupWindowController::addMessageToConsole(const platform::ConsoleMessage&) { }

std::optional<std::string> PopupWindowController::refusal(std::string_view url)
{
    auto colon = url.find(':');
    std::string scheme = colon == std::string_view::npos ? std::string() : asciiLowercase(std::string(url.substr(0, colon)));
    if (scheme == "http" || scheme == "https")
        return std::nullopt;
    return std::string("only http and https pages load in the popup");
}

platform::PolicyDecision PopupWindowController::decidePolicyForNavigation(const std::string& url)
{
    log::message(format("url policy.............>>>>>>>>>>>>....%@", log::withoutQueryValues(url)));
    auto colon = url.find(':');
    std::string scheme = colon == std::string::npos ? std::string() : asciiLowercase(url.substr(0, colon));
    // Frames of a web page may be blank or made by its own script; nothing else but web pages.
    if (refusal(url) && scheme != "about" && scheme != "blob") {
        log::message(format("refused to load %@ in the popup: %@", log::withoutQueryValues(url), *refusal(url)));
        return platform::PolicyDecision::Ignore;
    }
    return platform::PolicyDecision::Use;
}

void PopupWindowController::didStartMainFrameNavigation(const std::string& url, platform::NavigationChooser chooser)
{
    // Only the popup's own page: a frame inside it could load the landing URL with a query of its
    // choosing and log the user in to someone else's account. The same goes for a frame that
    // navigates the popup's page there.
    if (m_landingURL.empty() || !url.starts_with(m_landingURL) || m_handedOver)
        return;
    if (chooser == platform::NavigationChooser::MaybeForeignFrame) {
        log::message(format("the popup reached the landing page %@ by a navigation that a frame of another origin may have "
                            "chosen; it is not handed over",
            log::withoutQueryValues(url)));
        return;
    }
    m_handedOver = true;
    log::message(format("script..%@", snsLoginScript(log::withoutQueryValues(url))));
    // The code in the URL is the user's login: only one of the app's own documents gets it, never
    // another site the main window has gone to meanwhile.
    if (m_gWebView && !m_gWebView->evaluateInAppDocument(snsLoginScript(url)))
        log::warning(format("the landing page %@ is not handed over: the main window does not show one of the app's pages",
            log::withoutQueryValues(url)));
    m_window->close();
}

void PopupWindowController::runJavaScriptAlertPanel(const std::string& message, const platform::DialogAsker& asker)
{
    if (m_dialogs)
        m_dialogs->runAlert(message, asker);
}

bool PopupWindowController::runJavaScriptConfirmPanel(const std::string& message, const platform::DialogAsker& asker)
{
    return m_dialogs && m_dialogs->runConfirm(message, asker);
}

bool PopupWindowController::runBeforeUnloadConfirmPanel(const std::string& message, const platform::DialogAsker& asker)
{
    return !m_dialogs || m_dialogs->runConfirm(WHWebViewDelegate::leavePageQuestion(message), asker);
}

std::optional<std::string> PopupWindowController::runJavaScriptTextInputPanel(const std::string& prompt, const std::string& defaultText,
    const platform::DialogAsker& asker)
{
    return m_dialogs ? m_dialogs->runPrompt(prompt, defaultText, asker) : std::nullopt;
}

std::optional<std::vector<std::string>> PopupWindowController::runOpenPanel(
    platform::AllowMultipleFiles multiple, const std::vector<std::string>& accept, const platform::DialogAsker& asker)
{
    return m_dialogs ? m_dialogs->runOpenPanel(multiple, accept, asker) : std::nullopt;
}

platform::PermissionAnswer PopupWindowController::decidePermission(const platform::PermissionRequest& request)
{
    platform::PermissionRequest asked = request;
    asked.standing = platform::FrameStanding::Other;
    auto decision = WHPermissionPolicy(WHPermissionPolicy::Geolocation::Denied, WHPermissionPolicy::MediaCapture::Denied).decide(asked);
    log::message(decision.logLine);
    return decision.answer;
}

} // namespace penwick
