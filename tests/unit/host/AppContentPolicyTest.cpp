// Which documents count as the application's own: tricky file paths, schemes, ports and grants.
#include <gtest/gtest.h>

#include "host/WHAppContentPolicy.h"

using penwick::WHAppContentPolicy;

namespace {

struct Case {
    const char* url;
    bool appContent;
    bool bridge;
};

void expectCases(const WHAppContentPolicy& policy, std::initializer_list<Case> cases)
{
    for (const auto& c : cases) {
        EXPECT_EQ(policy.isAppContent(c.url), c.appContent) << c.url;
        EXPECT_EQ(policy.allowsBridge(c.url), c.bridge) << c.url;
    }
}

TEST(AppContentPolicy, FilesCountOnlyInsideTheContentFolder)
{
    WHAppContentPolicy policy("/opt/app/www/", "file:///opt/app/www/index.html", {});
    expectCases(policy,
        {
            { "file:///opt/app/www/index.html", true, true },
            { "file://localhost/opt/app/www/js/a.mjs?x=1#y", true, true },
            { "file:///opt/app/www/sub/../index.html", true, true },
            { "file:///opt/app/www/%69ndex.html", true, true },
            { "file:///opt/app/www/../config.xml", false, false },
            { "file:///opt/app/www/sub/../../secret", false, false },
            { "file:///opt/app/www%2F..%2Fsecret", false, false },
            { "file:///opt/app/www/%2e%2e/secret", false, false },
            { "file:///opt/app/www\\..\\secret", false, false },
            { "file:///opt/app/www-evil/index.html", false, false },
            { "file:///opt/app/wwwx/index.html", false, false },
            { "file:///opt/app/www", false, false },
            { "file:///opt/app/www/", false, false },
            { "file://otherhost/opt/app/www/index.html", false, false },
            { "file:///opt/app/www/%00x", false, false },
            { "whfile://localhost/persistent/a.html", true, true },
            { "WHFILE://localhost/temporary/", true, true },
            { "data:text/html,<b>x</b>", false, false },
            { "about:srcdoc", false, false },
            { "about:blank", false, false },
            { "http://127.0.0.1:8080/", false, false },
            { "", false, false },
            { "no scheme", false, false },
        });
}

TEST(AppContentPolicy, WebOriginsNeedTheStartPageOrAnAccessGrant)
{
    WHAppContentPolicy policy("/opt/app/www", "https://App.example.com/start/index.html",
        { "http://127.0.0.1:8123", "https://other.example:443", "not an origin" });
    expectCases(policy,
        {
            { "https://app.example.com/other", false, true },
            { "https://app.example.com:443/x", false, true },
            { "https://user@app.example.com/x", false, true },
            { "http://app.example.com/", false, false },
            { "https://app.example.com:8443/", false, false },
            { "https://app.example.com.evil.test/", false, false },
            { "http://127.0.0.1:8123/page.html", false, true },
            { "http://127.0.0.1:8124/page.html", false, false },
            { "http://127.0.0.1/page.html", false, false },
            { "https://other.example/", false, true },
            { "file:///opt/app/other.html", false, false },
        });
}

TEST(AppContentPolicy, AStarGrantsEveryDocumentTheBridgeButNoFileAccess)
{
    WHAppContentPolicy policy("/opt/app/www", std::nullopt, { "*" });
    expectCases(policy,
        {
            { "data:text/html,x", false, true },
            { "about:srcdoc", false, true },
            { "https://anything.test/", false, true },
            { "file:///etc/passwd", false, true },
            { "file:///opt/app/www/index.html", true, true },
        });
}

TEST(AppContentPolicy, OriginsAsLogLinesNameThem)
{
    const std::pair<const char*, const char*> cases[] = {
        { "HTTP://Example.COM:80/a?b#c", "http://example.com" },
        { "https://example.com:8443/", "https://example.com:8443" },
        { "http://[::1]:8080/x", "http://[::1]:8080" },
        { "http://[::1]/x", "http://[::1]" },
        { "file:///tmp/x.html", "file://" },
        { "whfile://localhost/persistent/x", "whfile://localhost" },
        { "data:text/html,x", "data:" },
        { "about:srcdoc", "about:" },
        { "", "" },
    };
    for (const auto& [url, origin] : cases)
        EXPECT_EQ(WHAppContentPolicy::originOf(url), origin) << url;
}

} // namespace
