#include "host/WHNavigationPolicy.h"

#include <algorithm>

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "host/WHAppContentPolicy.h"
#include "platform/UrlOpener.h"

namespace penwick {
namespace {

std::string lowercaseScheme(std::string_view url)
{
    auto colon = url.find(':');
    return colon == std::string_view::npos ? std::string() : asciiLowercase(std::string(url.substr(0, colon)));
}

bool isWebURL(std::string_view url)
{
    std::string scheme = lowercaseScheme(url);
    return scheme == "http" || scheme == "https";
}

// The schemes the window (or a frame) shows: the app's own, the web's and the engine's. The engine
// answers any other (mailto:, tel:) with its error page, which would take the app's place.
bool showsInWindow(std::string_view url)
{
    static constexpr std::string_view kShown[] = { "http", "https", "data", "blob", "about", "javascript", "resource", "webkit-pdfjs-viewer" };
    return WHAppContentPolicy::isLocalURL(url) || std::find(std::begin(kShown), std::end(kShown), lowercaseScheme(url)) != std::end(kShown);
}

} // namespace

ExternalLinks WHNavigationPolicy::externalLinksFrom(const std::optional<std::string>& setting)
{
    return setting && asciiLowercase(*setting) == "browser" ? ExternalLinks::Browser : ExternalLinks::Allow;
}

WHNavigationPolicy::Verdict WHNavigationPolicy::navigation(const platform::NavigationRequest& request) const
{
    // Links carry tokens in their queries: the lines keep the names only.
    std::string shown = log::withoutQueryValues(request.url);
    if (request.dropped)
        return { Action::Refuse, format("ignored a drop the page did not take: %@", shown) };
    if (!showsInWindow(request.url)) {
        // What the user clicked goes to the desktop's program for it (a mail link); the app stays.
        auto why = request.gesture == platform::UserGesture::Yes ? platform::UrlOpener::refusal(request.url)
                                                                 : std::optional<std::string>("the user did not ask for it");
        if (why)
            return { Action::Refuse, format("ERROR: refused to show %@ in the app's window: %@", shown, *why) };
        return { Action::Browser, format("opening %@ with the desktop", shown) };
    }
    bool byUser = request.gesture == platform::UserGesture::Yes
        && (request.kind == platform::NavigationKind::Link || request.kind == platform::NavigationKind::Form);
    // Another site's page a frame already shows navigates in its frame (the engine does not say
    // which frame a navigation is for); should it take the main frame, mainFrameDocument decides.
    std::string origin = WHAppContentPolicy::originOf(request.url);
    bool framed = std::any_of(request.frameURLs.begin(), request.frameURLs.end(),
        [&](const std::string& url) { return WHAppContentPolicy::originOf(url) == origin; });
    bool otherSite = isWebURL(request.url) && !framed && origin != WHAppContentPolicy::originOf(request.currentURL);
    if (m_externalLinks == ExternalLinks::Browser && byUser && otherSite)
        return toBrowser(request.url);
    return { Action::Load, format("navigating to %@", shown) };
}

WHNavigationPolicy::Verdict WHNavigationPolicy::toBrowser(const std::string& url) const
{
    std::string shown = log::withoutQueryValues(url);
    if (auto why = platform::UrlOpener::refusal(url))
        return { Action::Refuse, format("ERROR: refused to open %@ in the system browser: %@", shown, *why) };
    return { Action::Browser, format("opening %@ in the system browser", shown) };
}

WHNavigationPolicy::Verdict WHNavigationPolicy::mainFrameDocument(std::string_view url, std::string_view shownURL,
    platform::NavigationChooser chooser) const
{
    if (lowercaseScheme(url) == "file" && !m_content.isAppContent(url))
        return { Action::Refuse, format("refused to show %@ in the app's window: it is a file outside the app's folder", log::withoutQueryValues(url)) };
    if (m_externalLinks == ExternalLinks::Browser && chooser == platform::NavigationChooser::MaybeForeignFrame && isWebURL(url)
        && WHAppContentPolicy::originOf(url) != WHAppContentPolicy::originOf(shownURL))
        return toBrowser(std::string(url));
    return { Action::Load, {} };
}

WHNavigationPolicy::Verdict WHNavigationPolicy::newWindow(const platform::NewWindowRequest& request) const
{
    std::string shown = log::withoutQueryValues(request.url);
    if (m_content.isAppContent(request.url))
        return { Action::Refuse, format("ERROR: refused a new window for %@: the app's own pages open only in its window", shown) };
    if (!isWebURL(request.url))
        return { Action::Refuse, format("ERROR: refused a new window for %@: only http and https addresses open in the browser", shown) };
    // The app's own script may open the browser when it likes; a page that is not the app's only
    // when the user asked for it.
    if (request.gesture == platform::UserGesture::No && request.opener == platform::DocumentOpener::Other)
        return { Action::Refuse,
            format("ERROR: refused a new window for %@: the page shows content that is not the app's, and the user did not ask for it", shown) };
    // What the desktop takes from a page's call, and no more.
    if (auto why = platform::UrlOpener::refusal(request.url))
        return { Action::Refuse, format("ERROR: refused a new window for %@: %@", shown, *why) };
    return { Action::Browser, format("opening %@ in the system browser", shown) };
}

} // namespace penwick
