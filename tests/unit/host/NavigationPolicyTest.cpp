// Where the app's window goes: links, drops, files and new windows.
#include <cstring>
#include <gtest/gtest.h>
#include <tuple>

#include "host/WHNavigationPolicy.h"

using penwick::WHAppContentPolicy;
using penwick::WHNavigationPolicy;
using Action = WHNavigationPolicy::Action;
using L = penwick::ExternalLinks;
namespace platform = penwick::platform;

TEST(NavigationPolicy, LinksGoToTheBrowserOnlyWhenTheAppSaysSoAndTheMainFrameShowsNoFileOutsideTheApp)
{
    const WHAppContentPolicy app("/opt/app/www", "app://com.example.notes/index.html", {}, "app://com.example.notes");
    using K = platform::NavigationKind;
    using G = platform::UserGesture;
    // A request made while the app's page is shown.
    auto request = [](const char* url, K kind, G gesture, bool dropped = false, std::vector<std::string> frames = {}) {
        return platform::NavigationRequest { url, kind, gesture, "app://com.example.notes/index.html", dropped, frames };
    };
    // Clicked links load in the window when the app says nothing: end to end.
    // The request, where external links go, the action, the start of its line.
    const std::tuple<platform::NavigationRequest, L, Action, const char*> cases[] = {
        { request("https://example.com/a?token=1", K::Link, G::Yes), L::Browser, Action::Browser,
            "opening https://example.com/a?token=\u2026 in the system browser" },
        { request("http://example.com/f", K::Form, G::Yes), L::Browser, Action::Browser,
            "opening http://example.com/f in the system browser" },
        // Script, history and the app's own pages stay in the window.
        { request("https://example.com/", K::Other, G::No), L::Browser, Action::Load, "navigating to https://example.com/" },
        { request("https://example.com/", K::Link, G::No), L::Browser, Action::Load, "navigating to https://example.com/" },
        { request("https://example.com/", K::BackForward, G::Yes), L::Browser, Action::Load, "navigating to https://example.com/" },
        { request("app://com.example.notes/b.html", K::Link, G::Yes), L::Browser, Action::Load,
            "navigating to app://com.example.notes/b.html" },
        // The engine shows no mail link: the user's goes to the desktop, nothing else leaves or replaces the app.
        { request("mailto:a@example.com", K::Link, G::Yes), L::Allow, Action::Browser, "opening mailto:a@example.com with the desktop" },
        { request("MAILTO:a@example.com", K::Other, G::No), L::Browser, Action::Refuse,
            "ERROR: refused to show MAILTO:a@example.com in the app's window: the user did not ask for it" },
        { request("tel:123", K::Link, G::Yes), L::Allow, Action::Refuse,
            "ERROR: refused to show tel:123 in the app's window: only http, https and mailto" },
        { request("about:blank", K::Other, G::No), L::Allow, Action::Load, "navigating to about:blank" },
        // A frame showing that site navigates in itself (its link to the top goes to the browser: end to end).
        { request("https://maps.example/b", K::Link, G::Yes, false, { "https://maps.example/a" }), L::Browser, Action::Load,
            "navigating to https://maps.example/b" },
        { request("https:example.com", K::Link, G::Yes), L::Browser, Action::Refuse,
            "ERROR: refused to open https:example.com in the system browser: " },
        // A drop the page did not take shows nothing, whatever it is (a dropped file: end to end).
        { request("https://example.com/", K::Link, G::Yes, true), L::Browser, Action::Refuse,
            "ignored a drop the page did not take: https://example.com/" },
    };
    for (const auto& [asked, links, action, line] : cases) {
        auto verdict = WHNavigationPolicy(app, links).navigation(asked);
        EXPECT_EQ(std::pair(verdict.action, verdict.line.substr(0, std::strlen(line))), std::pair(action, std::string(line))) << asked.url;
    }
    EXPECT_EQ(std::pair(WHNavigationPolicy::externalLinksFrom("Browser"), WHNavigationPolicy::externalLinksFrom("allow")),
        std::pair(L::Browser, L::Allow));

    // The main frame shows no file outside the app, nor, with links going to the browser, another
    // site that a frame of another site may have sent it to (its line: end to end).
    const WHAppContentPolicy files("/opt/app/www", "file:///opt/app/www/index.html", {});
    using C = platform::NavigationChooser;
    const std::tuple<const char*, const char*, C, L, Action> documents[] = {
        { "file:///opt/app/www/b.html", "", C::MaybeForeignFrame, L::Browser, Action::Load },
        { "https://example.com/", "", C::PageOrUser, L::Browser, Action::Load },
        { "https://example.com/", "", C::MaybeForeignFrame, L::Allow, Action::Load },
        { "https://example.com/", "file:///opt/app/www/index.html", C::MaybeForeignFrame, L::Browser, Action::Browser },
        { "https://example.com/b", "https://example.com/a", C::MaybeForeignFrame, L::Browser, Action::Load },
        { "file:///tmp/dropped.html", "", C::PageOrUser, L::Allow, Action::Refuse },
        { "FILE:///opt/app/www/../config.xml", "", C::PageOrUser, L::Allow, Action::Refuse },
        { "file:///opt/app/www-evil/a.html", "", C::PageOrUser, L::Allow, Action::Refuse },
    };
    for (const auto& [url, shown, chooser, links, action] : documents)
        EXPECT_EQ(WHNavigationPolicy(files, links).mainFrameDocument(url, shown, chooser).action, action) << url << " from " << shown;

    // The refusals of new windows (a web frame's without the user, the app's own pages, other schemes)
    // are checked end to end with their lines.
    const std::tuple<const char*, G, platform::DocumentOpener, const char*> windows[] = {
        { "https://example.com/?k=v", G::No, platform::DocumentOpener::App, "opening https://example.com/?k=\u2026 in the system browser" },
        { "https://example.com/", G::Yes, platform::DocumentOpener::Other, "opening https://example.com/ in the system browser" },
    };
    for (const auto& [url, gesture, opener, line] : windows) {
        auto verdict = WHNavigationPolicy(files, L::Allow).newWindow({ url, gesture, opener });
        EXPECT_EQ(std::pair(verdict.action, verdict.line), std::pair(Action::Browser, std::string(line))) << url;
    }
}
