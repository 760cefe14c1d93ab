#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>
#include <webkit2/webkit-web-extension.h>

namespace penwick::webext {

// What a page's documents may read through file: URLs. Files the engine would hand to any file:
// document once the app's pages may read their folder stay out of reach: only the web content
// folder (or the whole disk, when the app chose that) remains. The host announces each main-frame
// navigation before its request goes out; the announced document's own URL passes once, and its
// reach applies once it is shown. Lives as long as the process (the engine's pages point at it).
class FileReachFilter {
public:
    FileReachFilter() = default;
    FileReachFilter(const FileReachFilter&) = delete;
    FileReachFilter& operator=(const FileReachFilter&) = delete;

    // Filters the requests of every page the extension gets from now on.
    void install(WebKitWebExtension* extension);
    // The host announced the reach of the document at `url` that page `pageId` shows next.
    void announced(std::uint64_t pageId, std::string_view url, std::vector<std::string> folders);

private:
    struct Reach {
        std::vector<std::string> folders; // none restricts nothing (the engine's own rules hold)
        std::string documentURL;
        std::string pendingURL;
        std::vector<std::string> pendingFolders;
    };
    static gboolean onSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer self);
    static void onMainDocument(WebKitScriptWorld*, WebKitWebPage* page, WebKitFrame* frame, gpointer self);

    std::map<std::uint64_t, Reach> m_reaches;
};

} // namespace penwick::webext
