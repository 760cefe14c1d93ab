// The page channel in the real app: a call too large for it fails alone, and frames that come and
// go do not pile up script contexts in the host.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/channel/";

void preparePage(AppRunner& app, const std::string& page, const std::vector<std::string>& extraPages = {})
{
    app.writeConfig("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"t\">\n<content src=\"" + page
        + "\"/>\n<feature name=\"Echo\"><param name=\"osx-package\" value=\"WHTestEcho\"/></feature>\n</widget>\n");
    app.writeResource("www/webhost/webhost.js", AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/webhost/webhost.js"));
    for (const auto& name : extraPages)
        app.writeResource("www/" + name, AppRunner::readFile(kPages + name));
    app.writeResource("www/" + page, AppRunner::readFile(kPages + page));
}

bool runUntilDone(AppRunner& app, std::chrono::seconds timeout)
{
    app.start();
    bool done = app.waitForLine(": DONE", timeout);
    std::this_thread::sleep_for(150ms);
    app.kill();
    return done;
}

TEST(Channel, ACallTooLargeForTheChannelFailsAndTheNextOneWorks)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "oversized.html");
    setenv("PENWICK_TEST_CHANNEL_LIMIT", "65536", 1);
    bool done = runUntilDone(app, 30s);
    unsetenv("PENWICK_TEST_CHANNEL_LIMIT");
    ASSERT_TRUE(done) << app.output();
    EXPECT_EQ(app.countLines("ERROR: a call to Echo.echo carried 1000"), 1) << app.output();
    EXPECT_EQ(app.countLines("bytes, more than the page channel's limit of 65536 bytes; it was refused."), 1) << app.output();
    EXPECT_EQ(app.countLines("oversized call failed: the call's arguments (1000"), 1) << app.output();
    EXPECT_EQ(app.countLines("large answer whole: true"), 1) << app.output();
    EXPECT_EQ(app.countLines("then answered small"), 1) << app.output();
    EXPECT_EQ(app.countLines("echo: "), 2) << app.output();
}

TEST(Channel, AThousandFrameNavigationsKeepOneContextPerFrame)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "navigate.html", { "child.html" });
    ASSERT_TRUE(runUntilDone(app, 120s)) << app.output();
    EXPECT_EQ(app.countLines("main frame answered still here"), 1) << app.output();
    // The host says so when one page holds 64 live contexts or more.
    EXPECT_EQ(app.countLines("live script contexts"), 0) << app.output();
    EXPECT_EQ(app.countLines("no longer serves"), 0) << app.output();
}

} // namespace
