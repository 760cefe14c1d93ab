#include "platform/UrlOpener.h"

#include "base/AsciiCase.h"
#include "base/WHURL.h"

namespace penwick::platform {

void UrlOpener::openHostFile(const std::string& path) { openURL(WHURL::fileURLStringWithPath(path, WHURL::Directory::No)); }

std::optional<std::string> UrlOpener::refusal(std::string_view url)
{
    if (url.empty())
        return std::string("the URL is empty");
    if (url.size() > kMaxURLLength)
        return "the URL is longer than " + std::to_string(kMaxURLLength) + " bytes";
    auto colon = url.find(':');
    std::string scheme = colon == std::string_view::npos ? std::string() : asciiLowercase(std::string(url.substr(0, colon)));
    if (scheme == "mailto")
        return std::nullopt;
    if ((scheme == "http" || scheme == "https") && url.substr(colon + 1, 2) == "//")
        return std::nullopt;
    return std::string("only http, https and mailto URLs are handed to the desktop");
}

} // namespace penwick::platform
