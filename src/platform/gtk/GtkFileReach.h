#pragma once

#include <string>
#include <vector>
#include <webkit2/webkit2.h>

#include "platform/WebViewClient.h"

namespace penwick::platform {

// What a page's documents may read through file: URLs: the web content folder and the file plugin's
// folders ("/" for the whole disk) for the app's own pages, anything (none) otherwise, where the
// engine's own rules refuse other files. The web process filters the requests; the view refuses
// frames it let pass.
class GtkFileReach {
public:
    // The main frame's next document is at `url` (the client says what it may read).
    void mainDocument(WebKitWebView* view, WebViewClient* client, const std::string& url);
    // A frame's document at `url` would lie outside the main frame's document's reach.
    bool outsideDocumentReach(const std::string& url) const;
    // Tells the web process which file: URLs the main frame's document at `url` may reach once it
    // is shown. `url` itself may load.
    static void announce(WebKitWebView* view, WebViewClient* client, const char* url);

private:
    // The folders the app's document at `url` may read (["/"]: the whole disk), none for others.
    static std::vector<std::string> foldersOf(WebViewClient* client, const std::string& url);
    // Lets the main frame's next document read files of its own folder, or not.
    static void setFileAccess(WebKitWebView* view, bool allowed);

    // foldersOf() the main frame's document.
    std::vector<std::string> m_documentReach;
};

} // namespace penwick::platform
