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

// A fixed size of 800x600 reaches the window the same way and is checked end to end.
TEST_F(ControllerDisplayTest, FullScreenIsSetBeforeShowingAndTheFirstToggleRestoresTheLaidOutFrame)
{
    const Rect laidOut = m_window.frame();
    auto ignored = launch("0x600");
    EXPECT_EQ(m_window.frame(), laidOut);
    for (const auto& line : m_log.lines())
        EXPECT_FALSE(line.starts_with("Set window size") || line.starts_with("Full screen")) << line;

    m_window = {};
    auto vc = launch("fullscreen");
    EXPECT_EQ(m_log.count("Full screen resolution: 1280.0 x 1024.0"), 1u);
    EXPECT_EQ(m_window.titleBar(), platform::TitleBar::Hidden);
    EXPECT_EQ(m_window.frame(), (Rect { 0, 0, 1280, 1024 }));
    auto& calls = m_window.calls();
    auto shown = std::find(calls.begin(), calls.end(), test::RecordingWindow::Call::ShowAndMakeKey);
    EXPECT_EQ(std::find(shown, calls.end(), test::RecordingWindow::Call::SetFrame), calls.end());

    vc->onFullscreen();
    EXPECT_EQ(m_window.titleBar(), platform::TitleBar::Shown);
    EXPECT_EQ(m_window.frame(), laidOut);
    vc->onFullscreen();
    EXPECT_EQ(m_window.frame(), (Rect { 0, 0, 1280, 1024 }));
}

} // namespace
