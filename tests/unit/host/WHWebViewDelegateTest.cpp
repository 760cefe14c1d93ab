// The web view delegate, the console and the bridge object, driven the way the web view drives
// them: new window objects, console calls and engine console messages.
#include <gtest/gtest.h>

#include "bridge/WHBridge.h"
#include "host/WHConsole.h"
#include "host/WHViewController.h"
#include "host/WHWebViewDelegate.h"
#include "support/LogCapture.h"
#include "support/RecordingWebView.h"
#include "support/TestPlatform.h"

using namespace penwick;
using penwick::test::LogCapture;

namespace {

class NoDialogs final : public platform::Dialogs {
public:
    void runAlert(const std::string&) override { }
    bool runConfirm(const std::string&) override { return false; }
    std::optional<std::string> runPrompt(const std::string&, const std::string&) override { return std::nullopt; }
    std::optional<std::vector<std::string>> runOpenPanel(platform::AllowMultipleFiles) override { return std::nullopt; }
};

class WebViewDelegateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_controller = std::make_unique<WHViewController>(m_platform.platform);
        m_controller->setWebView(&m_webView);
        m_delegate.setViewController(m_controller.get());
    }

    platform::WindowObject newWindow()
    {
        platform::WindowObject window;
        m_delegate.didClearWindowObject(window);
        return window;
    }

    test::TestPlatform m_platform;
    test::RecordingWebView m_webView;
    std::unique_ptr<WHViewController> m_controller;
    NoDialogs m_dialogs;
    WHWebViewDelegate m_delegate { m_dialogs };
    LogCapture m_log;
};

TEST_F(WebViewDelegateTest, EveryWindowGetsItsOwnBridgeAndTheSharedConsoleUnlessDeveloperExtrasAreOn)
{
    auto first = newWindow();
    auto second = newWindow();
    ASSERT_TRUE(first.hostbridge && second.hostbridge);
    EXPECT_NE(first.hostbridge, second.hostbridge);
    EXPECT_EQ(m_delegate.bridge(), second.hostbridge);
    ASSERT_TRUE(first.console);
    EXPECT_EQ(first.console, second.console);
    EXPECT_EQ(m_delegate.bridge()->webView(), &m_webView);

    ASSERT_TRUE(m_platform.userDefaults.setBool("WebKitDeveloperExtras", true));
    auto third = newWindow();
    EXPECT_FALSE(third.console);
    EXPECT_TRUE(third.hostbridge);
}

TEST_F(WebViewDelegateTest, ConsoleLinesCarryTheirKindAndTheTextFormOfTheValue)
{
    WHConsole console;
    const std::pair<platform::ConsoleLevel, Value> calls[] = {
        { platform::ConsoleLevel::Log, "plain" }, { platform::ConsoleLevel::Trace, 1 },
        { platform::ConsoleLevel::Debug, 2.5 }, { platform::ConsoleLevel::Info, true },
        { platform::ConsoleLevel::Warn, "x" }, { platform::ConsoleLevel::Error, nullptr },
        { platform::ConsoleLevel::Log, Value::parse(R"({"a":[1,"b"]})") },
    };
    for (const auto& [level, value] : calls)
        console.call(level, value);
    console.log(std::nullopt);
    EXPECT_EQ(m_log.lines(), (std::vector<std::string> { "plain", "trace: 1", "debug: 2.5", "info: 1", "warn: x",
                                 "error: <null>", "{\"a\":[1,\"b\"]}", "undefined" }));
}

TEST_F(WebViewDelegateTest, EngineConsoleMessagesNameTheSourceFile)
{
    const std::pair<const char*, const char*> sources[] = { { "file:///app/www/js/main.js", "main.js" },
        { "http://host/dir/", "dir" }, { "page.html", "page.html" }, { "/", "/" }, { "", "" } };
    for (const auto& [url, file] : sources) {
        m_log.clear();
        m_delegate.addMessageToConsole({ url, 12, "boom" });
        EXPECT_EQ(m_log.lines(), std::vector<std::string> { std::string("JavaScript error: ") + file + ":12: boom" }) << url;
    }
}

} // namespace
