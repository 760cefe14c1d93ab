// Modal work inside a page's call: the page's exec is blocked in the web process while the UI
// process runs a real dialog's nested main loop, and background answers keep arriving.
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

TEST(Modal, ADialogInsideAnActionNeitherDeadlocksNorReordersAnswers)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writeConfig("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"t\">\n<content src=\"modal.html\"/>\n"
                    "<feature name=\"Echo\"><param name=\"osx-package\" value=\"WHTestEcho\"/></feature>\n</widget>\n");
    app.writeResource("www/webhost/webhost.js", AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/webhost/webhost.js"));
    app.writeResource("www/modal.html", AppRunner::readFile(std::string(PENWICK_E2E_PAGES) + "/modal/modal.html"));
    app.start();
    ASSERT_TRUE(app.waitForLine("modal: asking", 20s)) << app.output();
    // Keep the question open a while, so that background answers pile up behind the page's call.
    std::this_thread::sleep_for(300ms);
    const std::string answer = "xdotool search --sync --onlyvisible --pid " + std::to_string(app.pid())
        + " --name '^Confirm$' windowfocus --sync %1 key --clearmodifiers Return >/dev/null 2>&1";
    ASSERT_EQ(std::system(answer.c_str()), 0) << app.output();
    bool done = app.waitForLine(": DONE", 20s);
    app.kill();
    ASSERT_TRUE(done) << app.output();
    EXPECT_TRUE(app.hasLogLine("modal returned after waiting: true")) << app.output();
    EXPECT_TRUE(app.hasLogLine("answer ok after ticks, in order: true")) << app.output();
    EXPECT_TRUE(app.hasLogLine("later call answered 1")) << app.output();
    // The main loop went on turning while the dialog was up.
    EXPECT_EQ(app.countLines(", 0 main loop turns"), 0) << app.output();
    EXPECT_EQ(app.countLines("modal: ok after "), 1) << app.output();
}

} // namespace
