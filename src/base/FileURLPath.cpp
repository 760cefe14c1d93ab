#include "base/FileURLPath.h"

#include <algorithm>
#include <vector>

#include "base/AsciiCase.h"
#include "base/PathComponents.h"
#include "base/WHURL.h"

namespace penwick {

std::optional<std::string> FileURLPath::localPath(std::string_view url)
{
    constexpr std::string_view kPrefix = "file://";
    if (url.size() < kPrefix.size() || asciiLowercase(std::string(url.substr(0, kPrefix.size()))) != kPrefix)
        return std::nullopt;
    auto rest = url.substr(kPrefix.size());
    auto authority = rest.substr(0, rest.find_first_of("/?#\\"));
    if (!authority.empty() && asciiLowercase(std::string(authority)) != "localhost")
        return std::nullopt;
    auto path = rest.substr(authority.size());
    path = path.substr(0, path.find_first_of("?#"));
    // The engine reads a "\" of a file URL as a "/".
    std::string raw(path);
    std::replace(raw.begin(), raw.end(), '\\', '/');
    auto decoded = WHURL::percentDecode(raw);
    if (!decoded)
        return std::nullopt;
    return normalized(*decoded);
}

std::string FileURLPath::normalized(std::string_view path)
{
    std::vector<std::string> parts;
    for (auto& part : pathComponents(path)) {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (part != ".") {
            parts.push_back(std::move(part));
        }
    }
    std::string result;
    for (const auto& part : parts) {
        result += '/';
        result += part;
    }
    return result.empty() ? "/" : result;
}

bool FileURLPath::isInside(std::string_view path, std::string_view folder)
{
    if (folder == "/")
        return true;
    return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder && path[folder.size()] == '/';
}

bool FileURLPath::isInsideAny(std::string_view path, const std::vector<std::string>& folders)
{
    for (const auto& folder : folders)
        if (isInside(path, folder))
            return true;
    return false;
}

} // namespace penwick
