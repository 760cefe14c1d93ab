#pragma once

#include <string>
#include <vector>
#include <webkit2/webkit2.h>

#include "base/GRef.h"

namespace penwick::platform {

// The URLs of the latest drop on a web view, until the user does something else: the engine shows
// a drop the page did not take by navigating there, and the host tells that navigation apart.
class GtkDropTracker {
public:
    GtkDropTracker() = default;
    GtkDropTracker(const GtkDropTracker&) = delete;
    GtkDropTracker& operator=(const GtkDropTracker&) = delete;

    void connect(WebKitWebView* view);
    // A key or button press: the drop is over.
    void userActed() { m_dropped.clear(); }
    // Whether a navigation to `url` is the drop's own; only the first is.
    bool takeDropNavigation(const std::string& url);

private:
    std::vector<std::string> m_dragged;
    std::vector<std::string> m_dropped;
    SignalConnection m_dragData;
    SignalConnection m_drop;
};

} // namespace penwick::platform
