// Modal work inside a page's call: the page's exec is blocked in the web process while the UI
// process runs a real dialog's nested main loop, and background answers keep arriving; then the
// page's own dialogs, answered with the keyboard.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

TEST(Modal, ADialogInsideAnActionNeitherDeadlocksNorReordersAnswersAndRealDialogsTakeTheKeyboard)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writePages("modal", "modal.html");
    app.start();
    // Background answers pile up behind the page's call before the question is answered.
    ASSERT_TRUE(app.waitForLine("modal: answers arrive while asking", 30s)) << app.output();
    ASSERT_TRUE(app.onWindow("Confirm", "windowfocus --sync %1 key --clearmodifiers Return")) << app.output();
    EXPECT_EQ(app.missingLogLines({ "modal returned", "answer ok after ticks, in order: true", "later call answered 1" }, 30s),
        std::vector<std::string> {}) << app.output();
    // The page's call returned only after the question was answered.
    const auto all = app.lines();
    auto answered = std::find_if(all.begin(), all.end(), [](const auto& l) { return l.find("modal: ok after ") != std::string::npos; });
    EXPECT_LT(answered - all.begin(), app.indexOfLogLine("modal returned")) << app.output();
    // The main loop went on turning while the dialog was up.
    EXPECT_EQ(app.countLines(", 0 main loop turns"), 0) << app.output();
    EXPECT_EQ(app.countLines("modal: ok after "), 1) << app.output();

    ASSERT_TRUE(app.waitForLine(": asking again", 30s)) << app.output();
    // Return presses the default button, OK.
    ASSERT_TRUE(app.onWindow("Confirm", "windowfocus --sync %1 key --clearmodifiers Return"));
    ASSERT_TRUE(app.waitForLine("confirm answered", 30s)) << app.output();
    ASSERT_TRUE(app.onWindow("Prompt", "windowfocus --sync %1 key --clearmodifiers ctrl+a type xyz"));
    ASSERT_TRUE(app.onWindow("Prompt", "windowfocus --sync %1 key --clearmodifiers Return"));
    EXPECT_EQ(app.missingLogLines({ "confirm answered: true", "prompt answered: \"xyz\"" }, 30s), std::vector<std::string> {}) << app.output();
}

} // namespace
