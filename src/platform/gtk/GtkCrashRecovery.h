#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <webkit2/webkit2.h>

namespace penwick::platform {

// What a web view does when its web process ends: the page is reloaded, unless the process died
// again right after such a reload; then a page in the user's language stands at the lost page's
// address and offers to reload it (its button, F5, the view's reload).
class GtkCrashRecovery {
public:
    // How the log lines name the end.
    static const char* why(WebKitWebProcessTerminationReason reason);
    // The view's web process ended; `reloading` runs just before the page is reloaded.
    void processEnded(WebKitWebView* view, WebKitWebProcessTerminationReason reason, const std::function<void()>& reloading);
    // The page standing in for a lost one is gone with the next load.
    void loadChanged(WebKitLoadEvent event);
    // The address of the lost page while the page offering to reload it stands there, else "".
    const std::string& lostPage() const { return m_lostPage; }

private:
    std::chrono::steady_clock::time_point m_lastAutomaticReload {};
    // Shown once the page offering the reload has committed.
    std::string m_lostPage;
    bool m_lostPageShown = false;
};

} // namespace penwick::platform
