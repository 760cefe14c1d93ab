// The page channel in the real app: a call or a byte answer too large for it fails alone, and
// frames that come and go do not pile up script contexts in the host.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

TEST(Channel, ACallTooLargeForTheChannelFailsAloneAndAThousandFrameNavigationsKeepOneContextPerFrame)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writePages("channel", "navigate.html", { "child.html" });
    app.setEnv("PENWICK_TEST_CHANNEL_LIMIT", "65536");
    app.start();
    ASSERT_TRUE(app.waitForLine(": main frame answered still here", 120s)) << app.output();
    for (const char* line : { "ERROR: a call to Echo.echo carried 1000", "bytes, more than the page channel's limit of 65536 bytes; it was refused.",
             "oversized call failed: the call's arguments (1000", "large answer whole: true", "then answered small",
             "oversized bytes failed: the answer is too large for the host's page channel (a NativeCallback frame of 70",
             "ERROR: the answer to callback Echo", "bytes within the limit: 60000 95" })
        EXPECT_EQ(app.countLines(line), 1) << line << "\n" << app.output();
    // Nearly the limit, "small" and "still here"; the oversized call reached no action.
    EXPECT_EQ(app.countLines("echo: "), 3) << app.output();
    // The host says so when one page holds 64 live contexts or more.
    EXPECT_EQ(app.countLines("live script contexts"), 0) << app.output();
    EXPECT_EQ(app.countLines("no longer serves"), 0) << app.output();
}

} // namespace
