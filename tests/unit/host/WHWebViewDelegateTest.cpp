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

// Writing a value recurses once per level; a console line names a deeper one instead.
TEST(WebViewDelegate, TheConsoleNamesAValueTooDeepToWrite)
{
    for (auto [levels, text] : { std::pair { 1000, std::string(1000, '[') + std::string(1000, ']') },
             { 100000, std::string("(a value nested more than 1000 levels deep)") } })
        EXPECT_EQ(penwick::WHConsole::description(penwick::Value::parse(std::string(levels, '[') + std::string(levels, ']'))), text);
}

// Page-supplied text in log lines: control characters are escaped and long URLs cut; ordinary
// lines pass unchanged.
TEST(LogLines, ControlCharactersAreEscapedAndLongURLsCut)
{
    const std::string longURL = "data:text/plain," + std::string(5000, 'a');
    const std::pair<std::string, std::string> cases[] = {
        { "navigating to file:///a b.html\n\tsecond line", "navigating to file:///a b.html\n\tsecond line" },
        { std::string("name /a\0b \x1b[31m\x7f", 16), "name /a\\x00b \\x1B[31m\\x7F" },
        { "navigating to " + longURL + " now", "navigating to " + longURL.substr(0, 256) + "... (5016 bytes) now" },
        { "at '" + longURL + "'", "at '" + longURL.substr(0, 255) + "... (5018 bytes)" },
        { std::string(5000, 'b'), std::string(5000, 'b') },
    };
    for (const auto& [line, logged] : cases) {
        penwick::test::LogCapture log;
        penwick::log::message(line);
        EXPECT_EQ(log.lines(), std::vector<std::string> { logged });
    }
}

} // namespace
