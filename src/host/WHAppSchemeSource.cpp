#include "host/WHAppSchemeSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <memory>

#include "base/AsciiCase.h"
#include "base/WHURL.h"

namespace penwick {
namespace {

// Whether the URL's authority names a port (or an empty one): "app://id:80/" would be the same
// files under another origin.
bool namesPort(std::string_view url)
{
    auto start = url.find("://");
    if (start == std::string_view::npos)
        return false;
    auto authority = url.substr(start + 3);
    return authority.substr(0, authority.find_first_of("/?#")).find(':') != std::string_view::npos;
}

} // namespace

WHAppSchemeSource::WHAppSchemeSource(std::string host, std::string contentFolder)
    : m_host(std::move(host))
    , m_contentFolder(std::move(contentFolder))
    , m_folder(std::make_unique<BeneathResolver>(std::vector<std::string> { m_contentFolder }))
{
}

std::string WHAppSchemeSource::hostForApplicationId(std::string_view id) { return asciiLowercase(std::string(id)); }

platform::SchemeRules WHAppSchemeSource::rules() const
{
    return platform::SchemeRules(kScheme, { origin() },
        {
            { "Cross-Origin-Opener-Policy", "same-origin" },
            { "Cross-Origin-Embedder-Policy", "require-corp" },
            { "Cross-Origin-Resource-Policy", "same-origin" },
        },
        platform::SchemeAudience::AppViews);
}

std::optional<platform::ServedFile> WHAppSchemeSource::fileForURL(const std::string& text) const
{
    auto url = WHURL::URLWithString(text);
    if (!url || url->scheme() != kScheme || url->host() != m_host || namesPort(text) || !url->path())
        return std::nullopt;
    // Refused rather than resolved: decoded from "%2e%2e" it would climb out of the folder.
    for (const auto& component : url->pathComponents()) {
        if (component == "..")
            return std::nullopt;
    }
    // The folder itself may be reached through a link; what lies in it may not lead out of it.
    auto fd = m_folder->open(*url->path(), O_RDONLY | O_NONBLOCK);
    struct stat status {};
    if (!fd || fstat(fd->get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    std::string file = m_contentFolder + *url->path();
    return platform::ServedFile { file, contentType(file), std::nullopt, std::make_shared<FileDescriptor>(std::move(*fd)) };
}

std::string WHAppSchemeSource::contentType(std::string_view name)
{
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        { "html", "text/html" }, { "htm", "text/html" }, { "xhtml", "application/xhtml+xml" },
        { "js", "text/javascript" }, { "mjs", "text/javascript" }, { "cjs", "text/javascript" },
        { "css", "text/css" }, { "json", "application/json" }, { "map", "application/json" },
        { "webmanifest", "application/manifest+json" }, { "wasm", "application/wasm" },
        { "txt", "text/plain" }, { "md", "text/markdown" }, { "csv", "text/csv" }, { "xml", "application/xml" },
        { "svg", "image/svg+xml" }, { "png", "image/png" }, { "jpg", "image/jpeg" }, { "jpeg", "image/jpeg" },
        { "gif", "image/gif" }, { "webp", "image/webp" }, { "avif", "image/avif" }, { "ico", "image/x-icon" },
        { "bmp", "image/bmp" }, { "woff", "font/woff" }, { "woff2", "font/woff2" }, { "ttf", "font/ttf" },
        { "otf", "font/otf" }, { "mp3", "audio/mpeg" }, { "wav", "audio/wav" }, { "ogg", "audio/ogg" },
        { "oga", "audio/ogg" }, { "opus", "audio/ogg" }, { "flac", "audio/flac" }, { "m4a", "audio/mp4" },
        { "mp4", "video/mp4" }, { "webm", "video/webm" }, { "ogv", "video/ogg" }, { "pdf", "application/pdf" },
        { "zip", "application/zip" },
    };
    auto slash = name.rfind('/');
    auto base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    auto dot = base.rfind('.');
    if (dot != std::string_view::npos && dot != 0) {
        std::string extension = asciiLowercase(std::string(base.substr(dot + 1)));
        for (const auto& [known, type] : kTypes) {
            if (known == extension)
                return std::string(type);
        }
    }
    return "application/octet-stream";
}

} // namespace penwick
