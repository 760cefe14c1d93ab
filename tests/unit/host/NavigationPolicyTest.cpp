// Where the app's window goes: links, drops, files and new windows.
#include <gtest/gtest.h>
#include <tuple>

#include "host/WHNavigationPolicy.h"

using penwick::ExternalLinks;
using penwick::WHAppContentPolicy;
using penwick::WHNavigationPolicy;
using Action = WHNavigationPolicy::Action;
namespace platform = penwick::platform;

namespace {

const WHAppContentPolicy kApp("/opt/app/www", "app://com.example.notes/index.html", {}, "app://com.example.notes");
constexpr const char* kPage = "app://com.example.notes/index.html";

TEST(NavigationPolicy, LinksGoToTheBrowserOnlyWhenTheAppSaysSoAndTheMainFrameShowsNoFileOutsideTheApp)
{
    using K = platform::NavigationKind;
    using G = platform::UserGesture;
    // Clicked links load in the window when the app says nothing: end to end.
    const struct { const char* url; K kind; G gesture; ExternalLinks links; Action action; const char* line; bool dropped = false;
        std::vector<std::string> frames = {}; } cases[] = {
        { "https://example.com/a?token=1", K::Link, G::Yes, ExternalLinks::Browser, Action::Browser,
            "opening https://example.com/a?token=\u2026 in the system browser" },
        { "http://example.com/f", K::Form, G::Yes, ExternalLinks::Browser, Action::Browser, "opening http://example.com/f in the system browser" },
        // Script, history and the app's own pages stay in the window.
        { "https://example.com/", K::Other, G::No, ExternalLinks::Browser, Action::Load, "navigating to https://example.com/" },
        { "https://example.com/", K::Link, G::No, ExternalLinks::Browser, Action::Load, "navigating to https://example.com/" },
        { "https://example.com/", K::BackForward, G::Yes, ExternalLinks::Browser, Action::Load, "navigating to https://example.com/" },
        { "app://com.example.notes/b.html", K::Link, G::Yes, ExternalLinks::Browser, Action::Load, "navigating to app://com.example.notes/b.html" },
        // The engine shows no mail link: the user's goes to the desktop, nothing else leaves or replaces the app.
        { "mailto:a@example.com", K::Link, G::Yes, ExternalLinks::Allow, Action::Browser, "opening mailto:a@example.com with the desktop" },
        { "MAILTO:a@example.com", K::Other, G::No, ExternalLinks::Browser, Action::Refuse,
            "ERROR: refused to show MAILTO:a@example.com in the app's window: the user did not ask for it" },
        { "tel:123", K::Link, G::Yes, ExternalLinks::Allow, Action::Refuse,
            "ERROR: refused to show tel:123 in the app's window: only http, https and mailto" },
        { "about:blank", K::Other, G::No, ExternalLinks::Allow, Action::Load, "navigating to about:blank" },
        // A frame showing that site navigates in itself (its link to the top goes to the browser: end to end).
        { "https://maps.example/b", K::Link, G::Yes, ExternalLinks::Browser, Action::Load, "navigating to https://maps.example/b", false,
            { "https://maps.example/a" } },
        { "https:example.com", K::Link, G::Yes, ExternalLinks::Browser, Action::Refuse,
            "ERROR: refused to open https:example.com in the system browser: " },
        // A drop the page did not take shows nothing, whatever it is (a dropped file: end to end).
        { "https://example.com/", K::Link, G::Yes, ExternalLinks::Browser, Action::Refuse,
            "ignored a drop the page did not take: https://example.com/", true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        platform::NavigationRequest request { c.url, c.kind, c.gesture, kPage, c.dropped, c.frames };
        auto verdict = WHNavigationPolicy(kApp, c.links).navigation(request);
        EXPECT_EQ(verdict.action, c.action);
        EXPECT_TRUE(verdict.line.starts_with(c.line)) << verdict.line;
    }
    EXPECT_EQ(WHNavigationPolicy::externalLinksFrom("Browser"), ExternalLinks::Browser);
    EXPECT_EQ(WHNavigationPolicy::externalLinksFrom("allow"), ExternalLinks::Allow);

    // The main frame shows no file outside the app, nor, with links going to the browser, another
    // site that a frame of another site may have sent it to (its line: end to end).
    const WHAppContentPolicy files("/opt/app/www", "file:///opt/app/www/index.html", {});
    using C = platform::NavigationChooser;
    const std::tuple<const char*, const char*, C, ExternalLinks, Action> documents[] = {
        { "file:///opt/app/www/b.html", "", C::MaybeForeignFrame, ExternalLinks::Browser, Action::Load },
        { "https://example.com/", "", C::PageOrUser, ExternalLinks::Browser, Action::Load },
        { "https://example.com/", "", C::MaybeForeignFrame, ExternalLinks::Allow, Action::Load },
        { "https://example.com/", "file:///opt/app/www/index.html", C::MaybeForeignFrame, ExternalLinks::Browser, Action::Browser },
        { "https://example.com/b", "https://example.com/a", C::MaybeForeignFrame, ExternalLinks::Browser, Action::Load },
        { "file:///tmp/dropped.html", "", C::PageOrUser, ExternalLinks::Allow, Action::Refuse },
        { "FILE:///opt/app/www/../config.xml", "", C::PageOrUser, ExternalLinks::Allow, Action::Refuse },
        { "file:///opt/app/www-evil/a.html", "", C::PageOrUser, ExternalLinks::Allow, Action::Refuse },
    };
    for (const auto& [url, shown, chooser, links, action] : documents)
        EXPECT_EQ(WHNavigationPolicy(files, links).mainFrameDocument(url, shown, chooser).action, action) << url << " from " << shown;
    const WHNavigationPolicy policy(files, ExternalLinks::Allow);

    // The refusals of new windows (a web frame's without the user, the app's own pages, other schemes)
    // are checked end to end with their lines.
    const std::tuple<const char*, platform::UserGesture, platform::DocumentOpener, const char*> windows[] = {
        { "https://example.com/?k=v", platform::UserGesture::No, platform::DocumentOpener::App,
            "opening https://example.com/?k=\u2026 in the system browser" },
        { "https://example.com/", platform::UserGesture::Yes, platform::DocumentOpener::Other,
            "opening https://example.com/ in the system browser" },
    };
    for (const auto& [url, gesture, opener, line] : windows) {
        auto verdict = policy.newWindow({ url, gesture, opener });
        EXPECT_EQ(verdict.action, Action::Browser) << url;
        EXPECT_EQ(verdict.line, line);
    }
}

} // namespace
