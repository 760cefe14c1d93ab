#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/WHAppContentPolicy.h"
#include "platform/WebViewClient.h"

namespace penwick {

// Where clicked links to other sites go: into the app's window (the default), or to the system
// browser while the app stays where it was.
enum class ExternalLinks { Allow, Browser };

// Keeps the app's window on the app: decides each navigation, each document the main frame is about
// to show and each new window a page asks for, with the one log line that says what happened. Pure:
// the caller opens the browser or refuses as the verdict says.
class WHNavigationPolicy {
public:
    enum class Action { Load, Refuse, Browser };
    struct Verdict {
        Action action;
        std::string line;
    };

    WHNavigationPolicy(const WHAppContentPolicy& content, ExternalLinks externalLinks)
        : m_content(content)
        , m_externalLinks(externalLinks)
    {
    }

    // The preference's text: "browser" (any case) or anything else for the default.
    static ExternalLinks externalLinksFrom(const std::optional<std::string>& setting);

    Verdict navigation(const platform::NavigationRequest& request) const;
    // The main frame never shows a file outside the app's folder: the app would be gone, and that
    // document could read what the app's files may. With links to other sites going to the
    // browser, another site that a frame of another site may have chosen (its link, its script or a
    // redirect, once the user touched it) goes there too.
    Verdict mainFrameDocument(std::string_view url, std::string_view shownURL, platform::NavigationChooser chooser) const;
    Verdict newWindow(const platform::NewWindowRequest& request) const;
    // A clicked link to another site that goes to the system browser, if the desktop takes it.
    Verdict toBrowser(const std::string& url) const;

private:
    const WHAppContentPolicy& m_content;
    ExternalLinks m_externalLinks;
};

} // namespace penwick
