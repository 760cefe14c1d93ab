#include "app/PopupWindowController.h"

#include "base/Format.h"
#include "base/Log.h"
#include "bridge/WHCommandDelegateImpl.h"
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

platform::PolicyDecision PopupWindowController::decidePolicyForNavigation(const std::string& url)
{
    log::message(format("url policy.............>>>>>>>>>>>>....%@", url));
    if (!m_landingURL.empty() && url.starts_with(m_landingURL)) {
        std::string script = snsLoginScript(url);
        log::message(format("script..%@", script));
        if (m_gWebView)
            m_gWebView->evaluateScript(script);
        m_window->close();
    }
    return platform::PolicyDecision::Use;
}

void PopupWindowController::runJavaScriptAlertPanel(const std::string& message)
{
    if (m_dialogs)
        m_dialogs->runAlert(message);
}

bool PopupWindowController::runJavaScriptConfirmPanel(const std::string& message)
{
    return m_dialogs && m_dialogs->runConfirm(message);
}

bool PopupWindowController::runBeforeUnloadConfirmPanel(const std::string& message)
{
    return !m_dialogs || m_dialogs->runConfirm(message);
}

std::optional<std::string> PopupWindowController::runJavaScriptTextInputPanel(const std::string& prompt, const std::string& defaultText)
{
    return m_dialogs ? m_dialogs->runPrompt(prompt, defaultText) : std::nullopt;
}

std::optional<std::vector<std::string>> PopupWindowController::runOpenPanel(platform::AllowMultipleFiles multiple)
{
    return m_dialogs ? m_dialogs->runOpenPanel(multiple) : std::nullopt;
}

} // namespace penwick
