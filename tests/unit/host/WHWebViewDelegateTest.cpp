// The source file named in the engine's console lines, and what page-supplied text becomes in log
// lines; the console's functions and the bridge objects are exercised by the end-to-end tests through a real page.
#include <gtest/gtest.h>

#include "base/Log.h"
#include "host/WHConsole.h"
#include "host/WHWebViewDelegate.h"
#include "support/LogCapture.h"

using penwick::WHWebViewDelegate;

namespace {

TEST(WebViewDelegate, LastPathComponentOfEveryShapeOfSource)
{
    const std::pair<const char*, const char*> sources[] = { { "file:///app/www/js/main.js", "main.js" },
        { "http://host/dir/", "dir" }, { "page.html", "page.html" }, { "/", "/" }, { "", "" } };
    for (const auto& [url, file] : sources)
        EXPECT_EQ(WHWebViewDelegate::lastPathComponent(url), file) << url;
}

// Page-supplied text in log lines: control characters escaped, long URLs cut, the rest unchanged;
// a console value too deep to write (writing recurses once per level) is named instead.
TEST(WebViewDelegate, LogLinesEscapeControlCharactersCutLongURLsAndNameTooDeepValues)
{
    const std::string url = "data:," + std::string(5000, 'a');
    auto nested = [](int levels) { return penwick::Value::parse(std::string(levels, '[') + std::string(levels, ']')); };
    const std::pair<std::string, std::string> cases[] = {
        { "to file:///a b\n\tc", "to file:///a b\n\tc" },
        { std::string("/a\0b \x1b[31m\x7f", 11), "/a\\x00b \\x1B[31m\\x7F" },
        { "to " + url + " now", "to " + url.substr(0, 256) + "... (5006 bytes) now" },
        { "at '" + url + "'", "at '" + url.substr(0, 255) + "... (5008 bytes)" },
        { penwick::WHConsole::description(nested(1000)), std::string(1000, '[') + std::string(1000, ']') },
        { penwick::WHConsole::description(nested(100000)), "(a value nested more than 1000 levels deep)" },
    };
    for (const auto& [line, logged] : cases) {
        penwick::test::LogCapture log;
        penwick::log::message(line);
        EXPECT_EQ(log.lines(), std::vector<std::string> { logged });
    }
}

} // namespace
