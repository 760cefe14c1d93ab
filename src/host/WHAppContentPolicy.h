#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace penwick {

// Decides which documents belong to the application: its own files (`file:` URLs inside the web
// content folder, and `whfile:` URLs), the start page's origin when the start page is a web URL,
// and the origins config.xml grants with `access` elements ("*" grants every document). Only such
// documents may call native code; only the application's own files may read their own folder.
class WHAppContentPolicy {
public:
    // `contentFolder` is the absolute path of the web content folder.
    WHAppContentPolicy(std::string contentFolder, std::optional<std::string> startURL, std::vector<std::string> accessOrigins);

    // True when a document at `url` may call native code.
    bool allowsBridge(std::string_view url) const;
    // True when config.xml grants every document ("*"), sandboxed ones included.
    bool grantsEveryDocument() const { return m_everyOrigin; }
    // True for the application's own files: `file:` URLs inside the content folder and `whfile:`
    // URLs. Their pages may read their own folder (modules, workers, fetch).
    bool isAppContent(std::string_view url) const;

    // The origin of `url` as log lines name it: "scheme://host[:port]" (default ports dropped,
    // scheme and host lower-cased), "file://" for files, and the scheme alone ("data:") for URLs
    // without an authority. Empty when `url` has no scheme.
    static std::string originOf(std::string_view url);

    const std::string& contentFolder() const { return m_contentFolder; }

private:
    bool isInsideContentFolder(std::string_view url) const;

    std::string m_contentFolder;
    std::vector<std::string> m_origins;
    bool m_everyOrigin = false;
};

} // namespace penwick
