// The controller applying WindowSize when the application finishes launching, and its toggle.
#include <algorithm>
#include <gtest/gtest.h>

#include "display/WHWindowSizeCommand.h"
#include "platform/DisplayServices.h"
#include "host/WHViewController.h"
#include "support/FakeClock.h"
#include "support/FakeScreens.h"
#include "support/LogCapture.h"
#include "support/RecordingPointer.h"
#include "support/RecordingWebView.h"
#include "support/RecordingWindow.h"
#include "support/TestPlatform.h"

using namespace penwick;
using platform::Rect;

namespace {

class ControllerDisplayTest : public ::testing::Test {
protected:
    std::unique_ptr<WHViewController> launch(const std::string& windowSize)
    {
        WHWindowSizeCommand::setSavedFrameForTesting({});
        m_platform.environment.writeResource("config.xml",
            "<?xml version=\"1.0\"?><widget><preference name=\"WindowSize\" value=\"" + windowSize + "\"/></widget>");
        m_platform.platform.services.provide<platform::DisplayServices>(m_display);
        auto vc = std::make_unique<WHViewController>(m_platform.platform);
        vc->setWebView(&m_webView);
        vc->setWindow(&m_window);
        vc->awakeFromNib();
        vc->onAppDidFinishLaunching();
        return vc;
    }

    test::TestPlatform m_platform;
    test::FakeScreens m_screens { { { 0, 0, 1280, 1024 } }, 0 };
    test::RecordingPointer m_pointer;
    test::FakeClock m_clock;
    platform::DisplayServices m_display { m_screens, m_pointer, m_clock };
    test::RecordingWebView m_webView;
    test::RecordingWindow m_window;
    test::LogCapture m_log;
};

TEST_F(ControllerDisplayTest, WindowSizeIsAppliedBeforeTheWindowIsShown)
{
    const Rect laidOut = m_window.frame();
    struct Case {
        const char* setting;
        Rect frame;
        const char* line;
    };
    for (const Case& c : {
             Case { "800x600", { laidOut.x, laidOut.y, 800, 600 }, "Set window size to 800.0 x 600.0" },
             Case { "0x600", laidOut, nullptr },
             Case { "fullscreen", { 0, 0, 1280, 1024 }, "Full screen resolution: 1280.0 x 1024.0" },
         }) {
        SCOPED_TRACE(c.setting);
        m_window = {};
        m_log.clear();
        auto vc = launch(c.setting);
        EXPECT_EQ(m_window.frame(), c.frame);
        auto lines = m_log.lines();
        auto sizeLines = std::count_if(lines.begin(), lines.end(),
            [](const std::string& l) { return l.starts_with("Set window size") || l.starts_with("Full screen"); });
        EXPECT_EQ(sizeLines, c.line ? 1 : 0);
        if (c.line) {
            EXPECT_TRUE(m_log.contains(c.line));
        }
        auto& calls = m_window.calls();
        auto shown = std::find(calls.begin(), calls.end(), test::RecordingWindow::Call::ShowAndMakeKey);
        EXPECT_EQ(std::find(shown, calls.end(), test::RecordingWindow::Call::SetFrame), calls.end());
    }
}

TEST_F(ControllerDisplayTest, FirstToggleAfterFullScreenStartRestoresTheLaidOutFrame)
{
    const Rect laidOut = m_window.frame();
    auto vc = launch("fullscreen");
    EXPECT_EQ(m_window.titleBar(), platform::TitleBar::Hidden);
    vc->onFullscreen();
    EXPECT_EQ(m_window.titleBar(), platform::TitleBar::Shown);
    EXPECT_EQ(m_window.frame(), laidOut);
    vc->onFullscreen();
    EXPECT_EQ(m_window.frame(), (Rect { 0, 0, 1280, 1024 }));
}

} // namespace
