#include "platform/gtk/GtkCrashRecovery.h"

#include "base/Format.h"
#include "base/Log.h"
#include "base/Translate.h"

namespace penwick::platform {
namespace {
// A web process that dies again this soon after an automatic reload is not restarted again.
constexpr auto kAutomaticReloadInterval = std::chrono::seconds(10);
// Shown in place of a page whose web process died twice in a row. It stands at the lost page's
// address, so its button's reload loads that page again; F5 is handled by the web view.
// In the user's language; its texts come from the host's catalogues, not from a page.
std::string processLostPage()
{
    const char* dir = gtk_widget_get_default_direction() == GTK_TEXT_DIR_RTL ? "rtl" : "ltr";
    return format(R"html(<!DOCTYPE html>
<html dir="%@"><head><meta charset="utf-8"><title>%@</title>
<style>body{font:16px sans-serif;margin:15% auto;max-width:32em;text-align:center}button{font-size:16px;padding:.4em 1.2em}</style>
</head><body>
<h1>%@</h1>
<p>%@</p>
<p><button onclick="location.reload()" autofocus>%@</button></p>
<p>%@</p>
</body></html>)html",
        dir, translate("Page stopped"), translate("The page stopped working"),
        translate("Its web process ended twice in a row, so it was not started again by itself."), translate("Reload the page"),
        translate("or press F5."));
}
} // namespace

const char* GtkCrashRecovery::why(WebKitWebProcessTerminationReason reason)
{
    return reason == WEBKIT_WEB_PROCESS_CRASHED ? "crashed"
        : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "exceeded its memory limit"
                                                               : "was terminated";
}

void GtkCrashRecovery::processEnded(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
    const std::function<void()>& reloading)
{
    const char* why = GtkCrashRecovery::why(reason);
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) {
        log::warning(std::string("web process ") + why + "; reload the page to continue");
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (m_lastAutomaticReload != std::chrono::steady_clock::time_point {} && now - m_lastAutomaticReload < kAutomaticReloadInterval) {
        const char* current = webkit_web_view_get_uri(view);
        std::string uri = current ? current : "";
        if (uri.empty()) {
            log::warning(std::string("web process ") + why + " again right after a reload; no page to reload");
            return;
        }
        log::warning(std::string("web process ") + why + " again right after a reload; showing a page that offers to reload " + uri);
        m_lostPage = uri;
        m_lostPageShown = false;
        webkit_web_view_load_alternate_html(view, processLostPage().c_str(), uri.c_str(), uri.c_str());
        gtk_widget_grab_focus(GTK_WIDGET(view));
        return;
    }
    m_lastAutomaticReload = now;
    log::warning(std::string("web process ") + why + "; reloading the page");
    reloading();
    webkit_web_view_reload(view);
}

void GtkCrashRecovery::loadChanged(WebKitLoadEvent event)
{
    if (event == WEBKIT_LOAD_STARTED && m_lostPageShown)
        m_lostPage.clear();
    if (event == WEBKIT_LOAD_COMMITTED)
        m_lostPageShown = !m_lostPage.empty();
}

} // namespace penwick::platform
