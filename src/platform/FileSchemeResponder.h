#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/FileDescriptor.h"

namespace penwick::platform {

// A file a URL scheme serves: its local path, the file opened for reading (from its root's
// descriptor: the path is never opened again) and its MIME type, or bytes held in the program (the
// page library), which then stand in for the file.
struct ServedFile {
    std::string localPath;
    std::string mimeType;
    std::optional<std::string_view> bytes;
    std::shared_ptr<FileDescriptor> descriptor {};
};

// Where a file-serving URL scheme finds the file behind a URL. Called on the work queue, several
// calls at once; the composition root provides it.
class FileSource {
public:
    virtual ~FileSource() = default;
    // None when the URL names nothing that may be served.
    virtual std::optional<ServedFile> fileForURL(const std::string& url) const = 0;
};

// What the engine is told: status, headers, and the bytes [offset, offset + length) of the file as
// the body (none for a HEAD request, a preflight or an error).
struct SchemeResponse {
    int status = 404;
    std::vector<std::pair<std::string, std::string>> headers;
    bool hasBody = false;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;

    const std::string* header(std::string_view name) const;
};

// Which web view a request came from: one of the application's own while its page is the app's
// content, one of its own showing something else (a dropped file, a web page, a whfile: page that
// no app document opened), or another view (the popup, or none at all, as for a download).
enum class RequestingView { App, AppShowingOther, Other };

// Who a scheme serves in the application's own views: any document the engine lets load it (the app
// origin's pages, which are the app's whoever asks for them), or only while the view shows the app's
// own content (files the app reaches, which no other document may read).
enum class SchemeAudience { AppViews, AppContent };

// A request as the scheme sees it.
struct SchemeRequest {
    std::string method = "GET";
    std::optional<std::string> range;
    std::optional<std::string> origin;
    RequestingView view = RequestingView::App;
};

// Whose requests a file-serving scheme answers, and the headers it adds to every answer that is
// not a refusal. By default: the application's files (origin "file://") and the scheme's own pages
// ("<scheme>://localhost").
struct SchemeRules {
    SchemeRules(std::string scheme);
    SchemeRules(std::string scheme, std::vector<std::string> ownOrigins, std::vector<std::pair<std::string, std::string>> headers,
        SchemeAudience audience = SchemeAudience::AppContent);

    std::string scheme;
    std::vector<std::string> ownOrigins;
    std::vector<std::pair<std::string, std::string>> headers;
    SchemeAudience audience = SchemeAudience::AppContent;
};

// The request-to-response rules of a file-serving scheme, without the engine: never cached,
// single byte ranges ("bytes=a-b", "a-", "-n") answered 206, unsatisfiable ones 416, CORS answers
// for the application's own pages (its rules' own origins) so that their script sees the
// headers and may send a Range.
//
// Only the application's own frames are served. The engine lets only local documents (file: and
// the scheme's own pages, registered as local) load the scheme's URLs at all; what reaches the
// scheme is refused here when it comes from another web view, from a view that shows no app content
// (unless the scheme's audience is every document of the app's views), or names an origin in its Origin
// header (which the engine writes and page script cannot set) other than its own origins: "null"
// (sandboxed and data: frames) included. A refused request is answered before its file is looked
// up, the same for every URL, so it learns nothing about the files.
class FileSchemeResponder {
public:
    // True when the request may be served.
    static bool admits(const SchemeRequest& request, const SchemeRules& rules);
    // The one answer to every refused request.
    static SchemeResponse refusal();

    struct ByteRange {
        std::uint64_t first = 0;
        std::uint64_t last = 0; // inclusive
    };
    enum class RangeKind { None, Satisfiable, Unsatisfiable };
    struct ParsedRange {
        RangeKind kind = RangeKind::None;
        ByteRange range;
    };
    // A header that is malformed or names several ranges is ignored (the whole file is served).
    static ParsedRange parseRange(std::string_view header, std::uint64_t size);

    // `file` and `size` are the file found for the URL, or none (404). A request that is not
    // admitted gets the refusal, whatever the file.
    static SchemeResponse respond(const SchemeRequest& request, const std::optional<ServedFile>& file,
        std::optional<std::uint64_t> size, const SchemeRules& rules);
};

} // namespace penwick::platform
