#include "platform/UrlOpener.h"

#include <algorithm>

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
    if (scheme != "http" && scheme != "https")
        return std::string("only http, https and mailto URLs are handed to the desktop");
    if (url.substr(colon + 1, 2) != "//")
        return std::string("an http or https URL needs a host");
    // The host: after any "user@", before any ":port".
    auto authority = url.substr(colon + 3, url.substr(colon + 3).find_first_of("/?#\\"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.empty() || authority.front() == ':')
        return std::string("an http or https URL needs a host");
    return std::nullopt;
}

std::string UrlOpener::handedOver(std::string_view url)
{
    auto colon = url.find(':');
    if (colon == std::string_view::npos || asciiLowercase(std::string(url.substr(0, colon))) != "mailto")
        return std::string(url);
    // A mail program takes more than addresses and text from a link ("attach=~/.ssh/id_rsa"): only
    // these fields reach it. Names are compared decoded; the fragment means nothing to mail.
    static constexpr std::string_view kFields[] = { "to", "cc", "bcc", "subject", "body" };
    url = url.substr(0, url.find('#'));
    auto query = url.find('?');
    std::string out(url.substr(0, query));
    if (query == std::string_view::npos)
        return out;
    char separator = '?';
    std::string_view rest = url.substr(query + 1);
    for (;;) {
        auto amp = rest.find('&');
        std::string_view field = rest.substr(0, amp);
        auto name = WHURL::percentDecode(field.substr(0, field.find('=')));
        if (name && std::find(std::begin(kFields), std::end(kFields), asciiLowercase(*name)) != std::end(kFields)) {
            out += separator;
            out += field;
            separator = '&';
        }
        if (amp == std::string_view::npos)
            break;
        rest.remove_prefix(amp + 1);
    }
    return out;
}

} // namespace penwick::platform
