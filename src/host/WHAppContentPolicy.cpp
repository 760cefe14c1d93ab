#include "host/WHAppContentPolicy.h"

#include <algorithm>

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "base/FileURLPath.h"

namespace penwick {
namespace {

constexpr std::string_view kFileScheme = "file";
constexpr std::string_view kAppScheme = "whfile";
constexpr std::string_view kAppOriginScheme = "app";

// Schemes whose documents no `access` element or web start page makes the app's.
bool isLocalScheme(std::string_view scheme) { return scheme == kFileScheme || scheme == kAppScheme || scheme == kAppOriginScheme; }

std::string schemeOf(std::string_view url)
{
    auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    auto scheme = url.substr(0, colon);
    auto isSchemeChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'; };
    if (!std::isalpha(static_cast<unsigned char>(scheme.front())) || !std::all_of(scheme.begin(), scheme.end(), isSchemeChar))
        return {};
    return asciiLowercase(std::string(scheme));
}

// What follows "scheme://" up to the path; nothing when the URL has no authority.
std::optional<std::string_view> authorityOf(std::string_view url, std::size_t schemeLength)
{
    auto rest = url.substr(schemeLength + 1);
    if (rest.substr(0, 2) != "//")
        return std::nullopt;
    rest.remove_prefix(2);
    return rest.substr(0, rest.find_first_of("/?#\\"));
}

std::string_view defaultPort(std::string_view scheme)
{
    if (scheme == "http" || scheme == "ws")
        return "80";
    if (scheme == "https" || scheme == "wss")
        return "443";
    return {};
}

} // namespace

WHAppContentPolicy::WHAppContentPolicy(std::string contentFolder, std::optional<std::string> startURL, std::vector<std::string> accessOrigins,
    std::string appOrigin)
    : m_contentFolder(FileURLPath::normalized(contentFolder))
    , m_appOrigin(std::move(appOrigin))
{
    if (startURL) {
        auto scheme = schemeOf(*startURL);
        if (!isLocalScheme(scheme) && authorityOf(*startURL, scheme.size())) {
            m_startOrigin = originOf(*startURL);
            m_origins.push_back(m_startOrigin);
        }
    }
    std::vector<std::string> refused;
    for (const auto& origin : accessOrigins) {
        // A wildcard would hand native code to pages nobody named; every origin must be written out.
        if (origin.find('*') != std::string::npos)
            refused.push_back(origin);
        else if (origin.find("://") != std::string::npos)
            m_origins.push_back(originOf(origin));
    }
    if (!refused.empty()) {
        std::string list;
        for (const auto& origin : refused)
            list += (list.empty() ? "" : ", ") + origin;
        log::warning(format("access origin %@ grants no native access: wildcards are ignored; name each origin that may call "
                            "native code (scheme, host and port) in an access element",
            list));
    }
}

std::string WHAppContentPolicy::originOf(std::string_view url)
{
    std::string scheme = schemeOf(url);
    if (scheme.empty())
        return {};
    auto authority = authorityOf(url, scheme.size());
    if (!authority)
        return scheme + ":";
    if (scheme == kFileScheme)
        return "file://";
    // The engine keeps the host of such a scheme as written: "app://A" and "app://a" differ.
    if (scheme == kAppOriginScheme)
        return scheme + "://" + std::string(*authority);
    auto hostPort = authority->substr(authority->rfind('@') == std::string_view::npos ? 0 : authority->rfind('@') + 1);
    // The port follows the last ":" that is not inside an IPv6 literal.
    auto colon = hostPort.rfind(':');
    if (colon != std::string_view::npos && hostPort.find(']', colon) != std::string_view::npos)
        colon = std::string_view::npos;
    auto host = hostPort.substr(0, colon);
    auto port = colon == std::string_view::npos ? std::string_view() : hostPort.substr(colon + 1);
    std::string origin = scheme + "://" + asciiLowercase(std::string(host));
    if (!port.empty() && port != defaultPort(scheme))
        origin += ":" + std::string(port);
    return origin;
}

bool WHAppContentPolicy::isLocalURL(std::string_view url) { return isLocalScheme(schemeOf(url)); }

bool WHAppContentPolicy::isInsideContentFolder(std::string_view url) const
{
    auto path = FileURLPath::localPath(url);
    return path && FileURLPath::isInside(*path, m_contentFolder);
}

bool WHAppContentPolicy::isAppContent(std::string_view url, OpenedBy openedBy) const
{
    std::string scheme = schemeOf(url);
    // Any page can frame or open a whfile: URL; only where the app put it is it the app's.
    if (scheme == kAppScheme)
        return openedBy == OpenedBy::App;
    // Served from the content folder to the app's own host alone; no other host is served.
    if (scheme == kAppOriginScheme)
        return !m_appOrigin.empty() && originOf(url) == m_appOrigin;
    return scheme == kFileScheme && isInsideContentFolder(url);
}

bool WHAppContentPolicy::isAppDocument(std::string_view url, OpenedBy openedBy) const
{
    if (isAppContent(url, openedBy))
        return true;
    std::string scheme = schemeOf(url);
    return !m_startOrigin.empty() && !isLocalScheme(scheme) && authorityOf(url, scheme.size())
        && originOf(url) == m_startOrigin;
}

std::vector<std::string> WHAppContentPolicy::documentOrigins() const
{
    std::vector<std::string> origins { "file://" };
    for (const auto* origin : { &m_appOrigin, &m_startOrigin })
        if (!origin->empty())
            origins.push_back(*origin);
    return origins;
}

bool WHAppContentPolicy::allowsBridge(std::string_view url, OpenedBy openedBy) const
{
    if (isAppContent(url, openedBy))
        return true;
    std::string scheme = schemeOf(url);
    // No `access` element makes a file of the disk, a whfile: document or another app origin the app's.
    if (scheme.empty() || isLocalScheme(scheme) || !authorityOf(url, scheme.size()))
        return false;
    return std::find(m_origins.begin(), m_origins.end(), originOf(url)) != m_origins.end();
}

} // namespace penwick
