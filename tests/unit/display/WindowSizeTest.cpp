// Full-screen geometry over screen layouts (y up) and the window operations built on it.
#include <gtest/gtest.h>
#include <tuple>

#include "display/ScreenUtils.h"
#include "display/WHWindowSizeCommand.h"
#include "support/RecordingDesktop.h"

using namespace penwick;
using platform::Rect;

TEST(ScreenUtils, FullScreenCoversTheMainScreenAndThoseLinedUpToItsRightAndLeavingItReturnsToTheFrameFromBefore)
{
    const Rect main { 0, 0, 1920, 1080 };
    // The layout's name, its screens, the main one's index, the screens full screen covers, the rectangle it covers.
    using Layout = std::tuple<const char*, std::vector<Rect>, size_t, std::vector<Rect>, Rect>;
    const Layout layouts[] = { { "no screen", {}, 0, {}, {} }, { "one screen", { main }, 0, { main }, main },
        // The layouts the two-monitor end-to-end test drives too; it needs a dummy X server as root.
        { "two equal, main on the right", { { -1920, 0, 1920, 1080 }, main }, 1, { main }, main },
        { "right one with a lower top edge", { main, { 1920, 0, 1920, 900 } }, 0, { main }, main },
        { "right one shorter, same top edge", { main, { 1920, 180, 1280, 900 } }, 0, { main, { 1920, 180, 1280, 900 } },
            { 0, 0, 3200, 1080 } },
        { "unsorted, one left and two right, one apart",
            { { 4000, 0, 800, 1080 }, { -1280, 0, 1280, 1080 }, main, { 1920, 0, 1920, 1080 } }, 2,
            { main, { 1920, 0, 1920, 1080 }, { 4000, 0, 800, 1080 } }, { 0, 0, 4640, 1080 } },
        { "main not at the origin", { { 0, 0, 1280, 1024 }, { 1280, 56, 1920, 1080 } }, 1, { { 1280, 56, 1920, 1080 } },
            { 1280, 56, 1920, 1080 } } };
    for (const auto& [name, frames, mainIndex, rects, fullScreen] : layouts) {
        SCOPED_TRACE(name);
        test::FakeScreens screens(frames, mainIndex);
        EXPECT_EQ(ScreenUtils::sortedScreenRects(screens), rects);
        EXPECT_EQ(ScreenUtils::fullScreenRect(screens), fullScreen);
    }

    // Leaving full screen without a saved frame (the process has not entered it before) keeps the
    // window's frame; entering and leaving with a saved frame are checked end to end.
    const test::FakeScreens screens({ main }, 0);
    const Rect before { 100, 200, 1024, 768 }; // a recording window's first frame
    test::RecordingWindow window;
    window.setTitleBar(platform::TitleBar::Hidden);
    WHWindowSizeCommand::toggleFullScreen(window, screens);
    EXPECT_EQ(std::pair(window.titleBar(), window.frame()), std::pair(platform::TitleBar::Shown, before));

    // A window manager that moves the frame while it takes the title bar away: leaving full
    // screen returns to the frame from before, not to one read during that change.
    struct Reframed : test::RecordingWindow {
        void setTitleBar(platform::TitleBar titleBar) override
        {
            test::RecordingWindow::setTitleBar(titleBar);
            if (titleBar == platform::TitleBar::Hidden)
                setFrame({ 99, 180, 1024, 768 });
        }
    } reframed;
    WHWindowSizeCommand::toggleFullScreen(reframed, screens);
    EXPECT_EQ(reframed.frame(), main);
    WHWindowSizeCommand::toggleFullScreen(reframed, screens);
    EXPECT_EQ(reframed.frame(), before);
}
