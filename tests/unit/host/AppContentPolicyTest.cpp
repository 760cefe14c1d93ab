// Which documents count as the application's own: tricky file paths, schemes, ports and grants.
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

#include "host/WHAppContentPolicy.h"
#include "support/LogCapture.h"

using namespace penwick;

TEST(AppContentPolicy, FilesCountOnlyInsideTheContentFolderAndWebOriginsNeedTheStartPageOrAnExplicitGrant)
{
    using OpenedBy = WHAppContentPolicy::OpenedBy;
    test::LogCapture log;
    const WHAppContentPolicy files("/opt/app/www/", "file:///opt/app/www/index.html", {});
    const WHAppContentPolicy appOrigin("/opt/app/www", "app://com.example.notes/index.html", {}, "app://com.example.notes");
    const WHAppContentPolicy web("/opt/app/www", "https://App.example.com/start/index.html",
        { "http://127.0.0.1:8123", "https://other.example:443", "not an origin", "whfile://localhost" });
    // Wildcards name no origin: they grant nothing, and say so once.
    const WHAppContentPolicy star("/opt/app/www", std::nullopt, { "*", "https://*.example.com", "http://127.0.0.1:8123" });
    (void)WHAppContentPolicy("/opt/app/www", std::nullopt, { "*" }); // the demo's old grant, alone
    ASSERT_EQ(log.lines().size(), 2u);
    for (const auto& [line, wildcards] : { std::pair { log.lines()[0], "*, https://*.example.com" }, { log.lines()[1], "*" } })
        EXPECT_TRUE(line.starts_with("access origin " + std::string(wildcards) + " grants no native access")) << line;
    // The policy, who opened the document, its URLs, whether they are app content, whether they get the bridge.
    const std::tuple<const WHAppContentPolicy&, OpenedBy, std::vector<const char*>, bool, bool> cases[] = {
        { files, OpenedBy::Other,
            { "file:///opt/app/www/index.html", "file://localhost/opt/app/www/js/a.mjs?x=1#y", "file:///opt/app/www/sub/../index.html",
                "file:///opt/app/www/%69ndex.html" },
            true, true },
        // A whfile: document is the app's only where the app's own content put it.
        { files, OpenedBy::App, { "whfile://localhost/persistent/a.html", "WHFILE://localhost/temporary/" }, true, true },
        { files, OpenedBy::Other, { "whfile://localhost/persistent/a.html", "WHFILE://localhost/root/home/u/pwn.html" }, false, false },
        { web, OpenedBy::Other, { "whfile://localhost/persistent/a.html" }, false, false },
        { files, OpenedBy::App,
            { "file:///opt/app/www/../config.xml", "file:///opt/app/www/sub/../../secret", "file:///opt/app/www%2F..%2Fsecret",
                "file:///opt/app/www/%2e%2e/secret", "file:///opt/app/www\\..\\secret", "file:///opt/app/www-evil/index.html",
                "file:///opt/app/wwwx/index.html", "file:///opt/app/www", "file:///opt/app/www/", "file://otherhost/opt/app/www/index.html",
                "file:///opt/app/www/%00x", "data:text/html,<b>x</b>", "about:srcdoc", "about:blank", "http://127.0.0.1:8080/", "",
                "no scheme" },
            false, false },
        { web, OpenedBy::Other,
            { "https://app.example.com/other", "https://app.example.com:443/x", "https://user@app.example.com/x",
                "http://127.0.0.1:8123/page.html", "https://other.example/" },
            false, true },
        { web, OpenedBy::App,
            { "http://app.example.com/", "https://app.example.com:8443/", "https://app.example.com.evil.test/",
                "http://127.0.0.1:8124/page.html", "http://127.0.0.1/page.html", "file:///opt/app/other.html",
                "app://com.example.notes/index.html" /* never by grant */ },
            false, false },
        { star, OpenedBy::App,
            { "data:text/html,x", "about:srcdoc", "https://anything.test/", "https://a.example.com/", "file:///etc/passwd" }, false,
            false },
        { star, OpenedBy::Other, { "http://127.0.0.1:8123/x" }, false, true },
        { star, OpenedBy::Other, { "file:///opt/app/www/index.html" }, true, true },
        // The app origin: its own host exactly, whoever opened it; no other host.
        { appOrigin, OpenedBy::Other, { "app://com.example.notes/index.html", "APP://com.example.notes/js/a.mjs?x#y" }, true, true },
        { appOrigin, OpenedBy::App,
            { "app://Com.Example.Notes/index.html", "app://com.example.notes.evil/", "app://other.app/index.html",
                "app://x@com.example.notes/", "app://com.example.notes:1/" },
            false, false },
    };
    for (const auto& [policy, opener, urls, appContent, bridge] : cases)
        for (const char* url : urls)
            EXPECT_EQ(std::pair(policy.isAppContent(url, opener), policy.allowsBridge(url, opener)), std::pair(appContent, bridge)) << url;
    // What the app's documents open is the app's; what a granted origin opens is not.
    const std::pair<const char*, bool> documents[] = { { "https://app.example.com/x", true }, { "file:///opt/app/www/index.html", true },
        { "http://127.0.0.1:8123/page.html", false }, { "https://other.example/", false } };
    for (const auto& [url, app] : documents)
        EXPECT_EQ(web.isAppDocument(url, OpenedBy::Other) || files.isAppDocument(url, OpenedBy::Other), app) << url;

    // Origins as log lines name them.
    const std::pair<const char*, const char*> origins[] = { { "", "" }, { "about:srcdoc", "about:" }, { "data:text/html,x", "data:" },
        { "HTTP://Example.COM:80/a?b#c", "http://example.com" }, { "https://example.com:8443/", "https://example.com:8443" },
        { "http://[::1]:8080/x", "http://[::1]:8080" }, { "http://[::1]/x", "http://[::1]" }, { "file:///tmp/x.html", "file://" },
        { "whfile://localhost/persistent/x", "whfile://localhost" } };
    for (const auto& [url, origin] : origins)
        EXPECT_EQ(WHAppContentPolicy::originOf(url), origin) << url;
}
