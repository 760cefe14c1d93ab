// The whfile scheme's request -> response rules: who is served, byte-range arithmetic at every size
// and offset, and the file a URL names. Whatever the request, a refused one gets the one refusal
// whether the file exists or not, a body never reaches past the file's end, the headers agree
// with the body, and a URL maps only inside its file system's root.
//
// Input: 8 bytes of file size, 1 byte of flags, then "method\nrange\norigin\nurl".
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "platform/FileSchemeResponder.h"
#include "plugins/file/WHFilesystemURLProtocol.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick::fuzz::file_scheme_target {

using namespace penwick::platform;

namespace {

std::string nextLine(std::string& rest)
{
    size_t end = rest.find('\n');
    std::string line = rest.substr(0, end);
    rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
    return line;
}

bool containsIgnoringCase(std::string text, std::string_view part)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text.find(part) != std::string::npos;
}

void checkResponse(const SchemeRequest& request, std::uint64_t size, bool present)
{
    const ServedFile file { "/srv/fuzz/root/f", "text/plain", std::nullopt };
    auto response = FileSchemeResponder::respond(request, present ? std::optional(file) : std::nullopt,
        present ? std::optional(size) : std::nullopt, SchemeRules("whfile"));
    auto header = [&](const char* name) { return response.header(name); };
    if (!FileSchemeResponder::admits(request, SchemeRules("whfile"))) {
        auto refusal = FileSchemeResponder::refusal();
        FUZZ_CHECK(response.status == refusal.status && response.headers == refusal.headers && !response.hasBody);
        return;
    }
    const std::string* allowed = header("Access-Control-Allow-Origin");
    FUZZ_CHECK(static_cast<bool>(allowed) == request.origin.has_value());
    FUZZ_CHECK(!allowed || *allowed == *request.origin);
    if (response.status == 200 || response.status == 206) {
        FUZZ_CHECK(present);
        FUZZ_CHECK(response.offset <= size && response.length <= size - response.offset);
        FUZZ_CHECK(header("Content-Length") && *header("Content-Length") == std::to_string(response.length));
        FUZZ_CHECK(response.hasBody == (request.method == "GET"));
    } else
        FUZZ_CHECK(!response.hasBody);
    if (response.status == 200)
        FUZZ_CHECK(response.offset == 0 && response.length == size && !header("Content-Range"));
    if (response.status == 206) {
        FUZZ_CHECK(response.length > 0 && request.range);
        FUZZ_CHECK(header("Content-Range") && *header("Content-Range") == "bytes " + std::to_string(response.offset) + "-"
            + std::to_string(response.offset + response.length - 1) + "/" + std::to_string(size));
    }
    if (response.status == 416)
        FUZZ_CHECK(present && header("Content-Range") && *header("Content-Range") == "bytes */" + std::to_string(size));
}

// Lexically, without the disk: "." and ".." resolved, repeated "/" collapsed.
bool insideRoot(const std::string& local, const std::string& root)
{
    std::string normal = std::filesystem::path(local).lexically_normal().string();
    return normal.compare(0, root.size(), root) == 0 && (normal.size() == root.size() || normal[root.size()] == '/');
}

void checkURL(const std::string& url)
{
    static const WHLocalFilesystem fileSystem("persistent", "/srv/fuzz/root");
    auto target = WHFilesystemURLProtocol::targetOfURL(url);
    if (!target)
        return;
    // A "?" or "#" in a name comes only from its escape: the URL's own query and fragment are cut.
    std::string named = target->fileSystemName + target->path;
    std::string rawPath = url.substr(0, url.find_first_of("?#"));
    FUZZ_CHECK(named.find('?') == std::string::npos || containsIgnoringCase(rawPath, "%3F"));
    FUZZ_CHECK(named.find('#') == std::string::npos || containsIgnoringCase(rawPath, "%23"));
    if (auto local = fileSystem.filesystemPathForPath(target->path))
        FUZZ_CHECK(insideRoot(*local, fileSystem.fsRoot()));
}

} // namespace

FUZZ_TARGET(file_scheme)
{
    if (size < 9)
        return 0;
    std::uint64_t fileSize = 0;
    std::memcpy(&fileSize, data, 8);
    // Sizes of real files fit in a signed 64-bit offset.
    fileSize &= 0x7FFFFFFFFFFFFFFFull;
    const std::uint8_t flags = data[8];
    std::string rest(reinterpret_cast<const char*>(data + 9), size - 9);
    SchemeRequest request;
    request.method = nextLine(rest);
    std::string range = nextLine(rest), origin = nextLine(rest);
    if (flags & 1)
        request.range = range;
    if (flags & 2)
        request.origin = origin;
    request.view = flags & 4 ? RequestingView::Other : RequestingView::App;
    checkResponse(request, fileSize, true);
    checkResponse(request, fileSize, false);
    checkURL(rest);
    return 0;
}

} // namespace penwick::fuzz::file_scheme_target
