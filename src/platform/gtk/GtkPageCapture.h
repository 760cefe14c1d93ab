#pragma once

#include <functional>
#include <optional>
#include <string>
#include <gio/gio.h>

#include "base/GRef.h"
#include "platform/ApplicationHost.h"
#include "platform/glib/MainLoopTimer.h"

namespace penwick::platform {

class GtkWebView;

// The captures the test options ask for (a PNG of the start page, its HTML): written once the
// page has loaded and settled, then the application quits, with 0 when all was written and 1 when
// something failed or the page did not load in time. Main loop only.
class GtkPageCapture {
public:
    using Quit = std::function<void(int exitCode)>;
    // Starts waiting for `view` (which outlives the capture) to load.
    GtkPageCapture(GtkWebView& view, LaunchOptions options, Quit quit);
    ~GtkPageCapture();
    GtkPageCapture(const GtkPageCapture&) = delete;
    GtkPageCapture& operator=(const GtkPageCapture&) = delete;

    // The start page could not be shown: what the view shows is still captured, then the capture
    // ends with 1.
    void startPageFailed(const std::string& reason);
    // The application ends: nothing more is written.
    void cancel();

private:
    void settle(std::optional<std::string> loadFailure);
    void writeCaptures();
    void writeDom();
    void writeScreenshot();
    // One capture is written (or failed); the application quits when none is left.
    void captureDone(bool ok);

    GtkWebView& m_view;
    LaunchOptions m_options;
    Quit m_quit;
    GRef<GCancellable> m_cancellable = adopt(g_cancellable_new());
    bool m_started = false;
    int m_pending = 0;
    int m_exitCode = 0;
    MainLoopTimer m_loadTimeout;
    MainLoopTimer m_settleTimeout;
    bool m_settling = false;
    // Why the start page could not be shown.
    std::optional<std::string> m_startPageFailure;
};

} // namespace penwick::platform
