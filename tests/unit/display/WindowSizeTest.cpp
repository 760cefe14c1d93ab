// Full-screen geometry over screen layouts (y up) and the window operations built on it.
#include <gtest/gtest.h>

#include <algorithm>

#include "display/ScreenUtils.h"
#include "display/WHWindowSizeCommand.h"
#include "host/WHViewController.h"
#include "platform/DisplayServices.h"
#include "support/FakeClock.h"
#include "support/FakeScreens.h"
#include "support/LogCapture.h"
#include "support/RecordingPointer.h"
#include "support/RecordingWebView.h"
#include "support/RecordingWindow.h"
#include "support/TestPlatform.h"

using namespace penwick;
using platform::Rect;
using test::FakeScreens;
using test::RecordingWindow;

namespace {

struct Layout {
    const char* name;
    std::vector<Rect> frames;
    size_t main;
    std::vector<Rect> expectedRects;
    Rect expectedFullScreen;
};

TEST(ScreenUtils, FullScreenCoversTheMainScreenAndThoseLinedUpToItsRight)
{
    const Rect main { 0, 0, 1920, 1080 };
    const std::vector<Layout> layouts {
        { "one screen", { main }, 0, { main }, main },
        { "two equal, main on the left", { main, { 1920, 0, 1920, 1080 } }, 0, { main, { 1920, 0, 1920, 1080 } },
            { 0, 0, 3840, 1080 } },
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
}

class WindowSizeCommandTest : public ::testing::Test {
protected:
    void SetUp() override { WHWindowSizeCommand::setSavedFrameForTesting({}); }
    FakeScreens m_screens { { { 0, 0, 1920, 1080 }, { 1920, 0, 1280, 1080 } }, 0 };
    RecordingWindow m_window;
    test::LogCapture m_log;
};

// Entering and leaving full screen with a saved frame are checked end to end.
TEST_F(WindowSizeCommandTest, LeavingWithoutASavedFrameKeepsTheWindowsFrame)
{
    m_window.setTitleBar(platform::TitleBar::Hidden);
    const Rect before = m_window.frame();
    WHWindowSizeCommand::toggleFullScreen(m_window, m_screens);
    EXPECT_EQ(m_window.titleBar(), platform::TitleBar::Shown);
    EXPECT_EQ(m_window.frame(), before);
}

// The controller applying WindowSize when the application finishes launching; the first toggle
// back to the laid-out frame and a fixed size are checked end to end.
TEST_F(WindowSizeCommandTest, ControllerSetsFullScreenBeforeShowingAndIgnoresAZeroSize)
{
    test::TestPlatform platform;
    test::RecordingPointer pointer;
    test::FakeClock clock;
    platform::DisplayServices display { m_screens, pointer, clock };
    platform.platform.services.provide<platform::DisplayServices>(display);
    test::RecordingWebView webView;
    const Rect laidOut = m_window.frame();
    std::unique_ptr<WHViewController> vc;
    auto launch = [&](const std::string& size) {
        platform.environment.writeResource("config.xml",
            "<?xml version=\"1.0\"?><widget><preference name=\"WindowSize\" value=\"" + size + "\"/></widget>");
        m_window = {};
        vc = std::make_unique<WHViewController>(platform.platform);
        vc->setWebView(&webView);
        vc->setWindow(&m_window);
        vc->awakeFromNib();
        vc->onAppDidFinishLaunching();
    };
    launch("0x600");
    EXPECT_EQ(m_window.frame(), laidOut);
    for (const auto& line : m_log.lines())
        EXPECT_FALSE(line.starts_with("Set window size") || line.starts_with("Full screen")) << line;

    launch("fullscreen");
    EXPECT_EQ(m_log.count("Full screen resolution: 3200.0 x 1080.0"), 1u);
    EXPECT_EQ(m_window.titleBar(), platform::TitleBar::Hidden);
    EXPECT_EQ(m_window.frame(), (Rect { 0, 0, 3200, 1080 }));
    EXPECT_EQ(WHWindowSizeCommand::savedFrame(), laidOut);
    auto& calls = m_window.calls();
    auto shown = std::find(calls.begin(), calls.end(), RecordingWindow::Call::ShowAndMakeKey);
    EXPECT_EQ(std::find(shown, calls.end(), RecordingWindow::Call::SetFrame), calls.end());
}

} // namespace
