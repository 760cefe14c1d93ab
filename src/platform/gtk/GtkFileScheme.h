#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <webkit2/webkit2.h>

#include "platform/FileSchemeResponder.h"
#include "platform/Scheduler.h"
#include "platform/WorkQueue.h"

namespace penwick::platform {

class GtkEngineContext;

// Serves a URL scheme from local files on the application's engine context, to the application's own web
// views only (see FileSchemeResponder for who is served). Requests arrive on the main loop;
// finding, opening and sizing the file happen on the work queue, and the answer goes back to the
// main loop carrying a stream of known length over just the bytes asked for, so no file work runs
// on the main loop and no file is held in memory. The stream is paced by the page's web process,
// and a web view streams only a few bodies at once (later requests wait for one to end), so
// bodies its pages never read cannot pile up in this process. Lives as long as the process.
class GtkFileScheme {
public:
    // Registers the rules' scheme once, before the first load.
    static void serve(GtkEngineContext& engine, const SchemeRules& rules, const FileSource& source, WorkQueue& workQueue,
        Scheduler& scheduler);
    // Makes `view` one of the application's own, whose pages the scheme serves while
    // `showsAppContent` says that they are the app's content (for a scheme whose audience asks).
    static void serveView(WebKitWebView* view, std::function<bool(std::string_view uri)> showsAppContent);

private:
    GtkFileScheme(SchemeRules rules, const FileSource& source, WorkQueue& workQueue, Scheduler& scheduler);
    void handle(WebKitURISchemeRequest* request);

    SchemeRules m_rules;
    const FileSource& m_source;
    WorkQueue& m_workQueue;
    Scheduler& m_scheduler;
    unsigned m_refusalsLogged = 0;
};

} // namespace penwick::platform
