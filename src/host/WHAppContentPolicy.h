#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace penwick {

// Decides which documents belong to the application: its own files (`file:` URLs inside the web
// content folder, the pages of its app origin `app://<host>/`, and `whfile:` documents that the
// application's own content opened), the start
// page's origin when the start page is a web URL, and the origins config.xml names explicitly with
// `access` elements (scheme, host, port). "*" and other wildcards name no origin: they grant
// nothing. Only such documents may call native code; only the application's own files may read
// their own folder.
class WHAppContentPolicy {
public:
    // Who put a document where it is: the host or a document that may call native code (the main
    // frame's previous document, or the parent of a frame), or anything else.
    enum class OpenedBy { App, Other };

    // `contentFolder` is the absolute path of the web content folder; `appOrigin` the app origin
    // ("app://<host>"; empty: none). `access` origins with a wildcard are left out, with one log line.
    WHAppContentPolicy(std::string contentFolder, std::optional<std::string> startURL, std::vector<std::string> accessOrigins,
        std::string appOrigin = {});

    // True when a document at `url`, opened as `openedBy` says, may call native code.
    bool allowsBridge(std::string_view url, OpenedBy openedBy) const;
    // True for the application's own files: `file:` URLs inside the content folder, URLs of the app
    // origin (its host exactly), and `whfile:` URLs that the application opened. Their pages may read their own folder (modules, workers,
    // fetch).
    bool isAppContent(std::string_view url, OpenedBy openedBy = OpenedBy::App) const;
    // True for the application's own documents: its own content, and pages of the start page's
    // origin when the start page is a web URL. What they open (a whfile: frame) is the app's too;
    // what an `access` origin opens is not.
    bool isAppDocument(std::string_view url, OpenedBy openedBy) const;
    // The origins whose every document is the app's own: the app origin, the start page's origin when
    // the start page is a web URL, and "file://" (documents outside the content folder are refused
    // before they load).
    std::vector<std::string> documentOrigins() const;

    // The origin of `url` as log lines name it: "scheme://host[:port]" (default ports dropped,
    // scheme and host lower-cased), "file://" for files, and the scheme alone ("data:") for URLs
    // without an authority. Empty when `url` has no scheme.
    static std::string originOf(std::string_view url);
    // True for URLs of the schemes only local documents may load (file:, whfile:, the app origin's).
    static bool isLocalURL(std::string_view url);

    const std::string& contentFolder() const { return m_contentFolder; }

private:
    bool isInsideContentFolder(std::string_view url) const;

    std::string m_contentFolder;
    std::string m_appOrigin;
    std::vector<std::string> m_origins;
    std::string m_startOrigin;
};

} // namespace penwick
