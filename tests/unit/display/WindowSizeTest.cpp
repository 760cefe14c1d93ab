// Full-screen geometry over screen layouts (y up) and the window operations built on it.
#include <gtest/gtest.h>

#include "display/ScreenUtils.h"
#include "display/WHWindowSizeCommand.h"
#include "support/FakeScreens.h"
#include "support/RecordingWindow.h"

using namespace penwick;
using platform::Rect;
using test::FakeScreens;
using test::RecordingWindow;

namespace {

TEST(ScreenUtils, FullScreenCoversTheMainScreenAndThoseLinedUpToItsRightAndLeavingItReturnsToTheFrameFromBefore)
{
    struct Layout { const char* name; std::vector<Rect> frames; size_t main; std::vector<Rect> expectedRects; Rect expectedFullScreen; };
    const Rect main { 0, 0, 1920, 1080 };
    const std::vector<Layout> layouts {
        { "one screen", { main }, 0, { main }, main },
        // The layouts the two-monitor end-to-end test drives too; it needs a dummy X server as root.
        { "two equal, main on the right", { { -1920, 0, 1920, 1080 }, main }, 1, { main }, main },
        { "right one with a lower top edge", { main, { 1920, 0, 1920, 900 } }, 0, { main }, main },
        { "right one shorter, same top edge", { main, { 1920, 180, 1280, 900 } }, 0, { main, { 1920, 180, 1280, 900 } },
            { 0, 0, 3200, 1080 } },
        { "unsorted, one left and two right, one apart", { { 4000, 0, 800, 1080 }, { -1280, 0, 1280, 1080 }, main, { 1920, 0, 1920, 1080 } }, 2,
            { main, { 1920, 0, 1920, 1080 }, { 4000, 0, 800, 1080 } }, { 0, 0, 4640, 1080 } },
        { "main not at the origin", { { 0, 0, 1280, 1024 }, { 1280, 56, 1920, 1080 } }, 1, { { 1280, 56, 1920, 1080 } },
            { 1280, 56, 1920, 1080 } },
        { "no screen", {}, 0, {}, {} },
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        FakeScreens screens(layout.frames, layout.main);
        EXPECT_EQ(ScreenUtils::sortedScreenRects(screens), layout.expectedRects);
        EXPECT_EQ(ScreenUtils::fullScreenRect(screens), layout.expectedFullScreen);
    }

    // Leaving full screen without a saved frame (the process has not entered it before) keeps the
    // window's frame; entering and leaving with a saved frame are checked end to end.
    RecordingWindow window;
    window.setTitleBar(platform::TitleBar::Hidden);
    const Rect before = window.frame();
    WHWindowSizeCommand::toggleFullScreen(window, FakeScreens({ { 0, 0, 1920, 1080 } }, 0));
    EXPECT_EQ(window.titleBar(), platform::TitleBar::Shown);
    EXPECT_EQ(window.frame(), before);

    // A window manager that moves the frame while it takes the title bar away: leaving full
    // screen returns to the frame from before, not to one read during that change.
    struct Reframed : RecordingWindow {
        void setTitleBar(platform::TitleBar titleBar) override
        {
            RecordingWindow::setTitleBar(titleBar);
            if (titleBar == platform::TitleBar::Hidden)
                setFrame({ 99, 180, 1024, 768 });
        }
    } reframed;
    const FakeScreens screens({ { 0, 0, 1920, 1080 } }, 0);
    WHWindowSizeCommand::toggleFullScreen(reframed, screens);
    EXPECT_EQ(reframed.frame(), (Rect { 0, 0, 1920, 1080 }));
    WHWindowSizeCommand::toggleFullScreen(reframed, screens);
    EXPECT_EQ(reframed.frame(), (Rect { 100, 200, 1024, 768 }));
}

} // namespace
