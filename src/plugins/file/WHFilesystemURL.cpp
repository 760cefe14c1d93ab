#include "plugins/file/WHFilesystemURL.h"

#include "base/Format.h"

namespace penwick {
namespace {
constexpr std::string_view kScheme = "whfile";
constexpr std::string_view kHost = "localhost";

bool isFileSystemURL(const WHURL& url)
{
    return url.scheme() == kScheme && url.host() == kHost;
}
} // namespace

WHFilesystemURL WHFilesystemURL::fileSystemURLWithString(std::string_view string)
{
    return WHFilesystemURL(string);
}

WHFilesystemURL WHFilesystemURL::fileSystemURLWithURL(std::optional<WHURL> url)
{
    return WHFilesystemURL(std::move(url));
}

WHFilesystemURL::WHFilesystemURL(std::string_view string)
    : WHFilesystemURL(WHURL::URLWithString(string))
{
}

WHFilesystemURL::WHFilesystemURL(std::optional<WHURL> url)
    : m_url(std::move(url))
{
    if (!m_url)
        return;
    m_fileSystemName = filesystemNameForLocalURI(*m_url);
    m_fullPath = fullPathForLocalURI(*m_url);
}

std::optional<std::string> WHFilesystemURL::filesystemNameForLocalURI(const WHURL& url)
{
    if (!isFileSystemURL(url))
        return std::nullopt;
    auto components = url.pathComponents();
    if (components.size() < 2)
        return std::nullopt;
    return components[1];
}

std::optional<std::string> WHFilesystemURL::fullPathForLocalURI(const WHURL& url)
{
    if (!isFileSystemURL(url) || !url.path())
        return std::nullopt;
    std::string path = *url.path();
    if (url.query())
        path += "?" + *url.query();
    size_t slash = path.size() > 1 ? path.find('/', 1) : std::string::npos;
    if (slash == std::string::npos)
        return std::string();
    return path.substr(slash);
}

std::string WHFilesystemURL::absoluteURL() const
{
    return format("whfile://localhost/%@%@", m_fileSystemName.value_or(""), m_fullPath.value_or(""));
}

} // namespace penwick
