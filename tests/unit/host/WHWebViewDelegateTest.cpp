// The source file named in the engine's console lines; the console and the bridge objects are
// exercised by the end-to-end tests through a real page.
#include <gtest/gtest.h>

#include "host/WHWebViewDelegate.h"

using penwick::WHWebViewDelegate;

namespace {

TEST(WebViewDelegate, LastPathComponentOfEveryShapeOfSource)
{
    const std::pair<const char*, const char*> sources[] = { { "file:///app/www/js/main.js", "main.js" },
        { "http://host/dir/", "dir" }, { "page.html", "page.html" }, { "/", "/" }, { "", "" } };
    for (const auto& [url, file] : sources)
        EXPECT_EQ(WHWebViewDelegate::lastPathComponent(url), file) << url;
}

} // namespace
