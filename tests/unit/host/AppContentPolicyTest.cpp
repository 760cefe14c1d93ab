// Which documents count as the application's own: tricky file paths, schemes, ports and grants.
#include <gtest/gtest.h>
#include <vector>

#include "host/WHAppContentPolicy.h"

using penwick::WHAppContentPolicy;

namespace {

TEST(AppContentPolicy, FilesCountOnlyInsideTheContentFolderAndWebOriginsNeedTheStartPageOrAGrant)
{
    const WHAppContentPolicy files("/opt/app/www/", "file:///opt/app/www/index.html", {});
    const WHAppContentPolicy web("/opt/app/www", "https://App.example.com/start/index.html",
        { "http://127.0.0.1:8123", "https://other.example:443", "not an origin" });
    // A star grants every document the bridge but no file access.
    const WHAppContentPolicy star("/opt/app/www", std::nullopt, { "*" });
    struct Case {
        const WHAppContentPolicy& policy;
        std::vector<const char*> urls;
        bool appContent;
        bool bridge;
    };
    const Case cases[] = {
        { files, { "file:///opt/app/www/index.html", "file://localhost/opt/app/www/js/a.mjs?x=1#y", "file:///opt/app/www/sub/../index.html",
                     "file:///opt/app/www/%69ndex.html", "whfile://localhost/persistent/a.html", "WHFILE://localhost/temporary/" },
            true, true },
        { files, { "file:///opt/app/www/../config.xml", "file:///opt/app/www/sub/../../secret", "file:///opt/app/www%2F..%2Fsecret",
                     "file:///opt/app/www/%2e%2e/secret", "file:///opt/app/www\\..\\secret", "file:///opt/app/www-evil/index.html",
                     "file:///opt/app/wwwx/index.html", "file:///opt/app/www", "file:///opt/app/www/", "file://otherhost/opt/app/www/index.html",
                     "file:///opt/app/www/%00x", "data:text/html,<b>x</b>", "about:srcdoc", "about:blank", "http://127.0.0.1:8080/", "", "no scheme" },
            false, false },
        { web, { "https://app.example.com/other", "https://app.example.com:443/x", "https://user@app.example.com/x", "http://127.0.0.1:8123/page.html",
                   "https://other.example/" },
            false, true },
        { web, { "http://app.example.com/", "https://app.example.com:8443/", "https://app.example.com.evil.test/", "http://127.0.0.1:8124/page.html",
                   "http://127.0.0.1/page.html", "file:///opt/app/other.html" },
            false, false },
        { star, { "data:text/html,x", "about:srcdoc", "https://anything.test/", "file:///etc/passwd" }, false, true },
        { star, { "file:///opt/app/www/index.html" }, true, true },
    };
    for (const auto& c : cases) {
        for (const char* url : c.urls) {
            EXPECT_EQ(c.policy.isAppContent(url), c.appContent) << url;
            EXPECT_EQ(c.policy.allowsBridge(url), c.bridge) << url;
        }
    }
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
