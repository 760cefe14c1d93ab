// Modal work inside a page's call: the page's exec is blocked in the web process while the UI
// process runs a real dialog's nested main loop, and background answers keep arriving; then the
// page's own dialogs, answered with the keyboard; then a frame of another site cannot pass its
// questions off as the app's: its alert, the confirm of a blank frame it made and its file chooser
// are titled with its origin, and the app's own alert and chooser keep the app's titles.
#include "e2e/E2E.h"

TEST(Modal, ADialogInsideAnActionNeitherDeadlocksNorReordersAnswersAndRealDialogsTakeTheKeyboardAndNameAnotherSitesOrigin)
{
    LoopbackServer web(AppRunner::page("modal", "other.html"));
    AppRunner app(AppRunner::Binary::TestApp);
    app.startPages("modal", "modal.html", {}, {}, { { "@WEB@", web.origin() + "/" } });
    // Background answers pile up behind the page's call before the question is answered.
    ASSERT_TRUE(lineAppears(app, "modal: answers arrive while asking"));
    ASSERT_TRUE(app.press("Return", "Confirm")) << app.output();
    EXPECT_TRUE(logged(app, { "modal returned", "answer ok after ticks, in order: true", "later call answered 1" }, 30s));
    // The page's call returned only after the question was answered.
    const auto all = app.lines();
    auto answered = std::find_if(all.begin(), all.end(), [](const auto& l) { return l.find("modal: ok after ") != std::string::npos; });
    EXPECT_LT(answered - all.begin(), app.indexOfLogLine("modal returned")) << app.output();
    // The main loop went on turning while the dialog was up.
    EXPECT_TRUE(counted(app, { { ", 0 main loop turns", 0 }, { "modal: ok after ", 1 } }));

    // (A confirm's Return is the language test's.)
    ASSERT_TRUE(lineAppears(app, ": asking again"));
    ASSERT_TRUE(app.press("ctrl+a type xyz", "Prompt"));
    ASSERT_TRUE(app.press("Return", "Prompt"));
    EXPECT_TRUE(logged(app, { "prompt answered: \"xyz\"" }, 30s));

    const std::string from = " from " + web.origin();
    for (const std::string& title : { "Message" + from, "Confirm" + from, std::string("Message") })
        ASSERT_TRUE(app.press("Return", title)) << title << app.output();
    EXPECT_TRUE(logged(app, { "other site confirmed true", "app alert answered" }));
    // The frame's file chooser names its site too (clicked below the blank frame it made); the app's, beside it, is the app's.
    // Each is clicked once the dialog before it has gone, which would take the click; a chooser still
    // being made may miss a key, which goes again until the chooser does.
    std::string before = "Message", id;
    auto gone = [&] { return AppRunner::capture("xwininfo -id " + id).find("IsViewable") == std::string::npos; };
    for (const auto& [x, title] : { std::pair { 350, "Open" + from }, { 650, std::string("Open") } }) {
        ASSERT_TRUE(AppRunner::waitUntil([&] { return app.window(before).empty(); }, 30s)) << before;
        ASSERT_TRUE(app.onWindow("Penwick", "mousemove --window %1 " + std::to_string(x) + " 250 click 1")) << app.output();
        before = title;
        ASSERT_TRUE(AppRunner::waitUntil([&] { return !(id = app.window(before)).empty(); }, 30s)) << before << app.output();
        ASSERT_TRUE(AppRunner::waitUntil([&] {
            (void)AppRunner::xdotool("windowfocus --sync " + id + " key --clearmodifiers Escape");
            return AppRunner::waitUntil(gone, 2s);
        }, 30s)) << before;
    }
}
