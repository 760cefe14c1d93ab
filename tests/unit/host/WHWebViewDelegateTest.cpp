// The web view delegate, the console and the bridge object, driven the way the web view drives
// them: new window objects, page calls, console calls and the page's questions.
#include <gtest/gtest.h>

#include "bridge/WHBridge.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "host/WHConsole.h"
#include "host/WHViewController.h"
#include "host/WHWebViewDelegate.h"
#include "support/LogCapture.h"
#include "support/RecordingWebView.h"
#include "support/TestPlatform.h"

using namespace penwick;
using penwick::test::LogCapture;

namespace {

// Remembers the commands that reached it.
class RecordingPlugin final : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    static std::vector<WHInvokedUrlCommand>& received()
    {
        static std::vector<WHInvokedUrlCommand> s_received;
        return s_received;
    }
    const std::string& className() const override
    {
        static const std::string s_name = "RecordingPlugin";
        return s_name;
    }
    void take(const WHInvokedUrlCommand& command) { received().push_back(command); }

protected:
    const ActionTable& actions() const override
    {
        static const ActionTable s_actions = ActionTable().add("take:", &RecordingPlugin::take);
        return s_actions;
    }
};

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
        WHPluginFactory::registerClass<RecordingPlugin>("RecordingPlugin");
        RecordingPlugin::received().clear();
        m_platform.environment.writeResource("config.xml",
            "<?xml version=\"1.0\"?><widget><feature name=\"Rec\"><param name=\"osx-package\" value=\"RecordingPlugin\"/>"
            "</feature></widget>");
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

TEST_F(WebViewDelegateTest, EveryWindowGetsItsOwnBridgeTheSharedConsoleHelpersAndTheReadyNotice)
{
    auto first = newWindow();
    auto second = newWindow();
    auto third = newWindow();
    ASSERT_TRUE(first.hostbridge && second.hostbridge && third.hostbridge);
    EXPECT_NE(first.hostbridge, second.hostbridge);
    EXPECT_NE(second.hostbridge, third.hostbridge);
    EXPECT_EQ(m_delegate.bridge(), third.hostbridge);
    EXPECT_EQ(first.console, third.console);
    EXPECT_EQ(m_delegate.console(), first.console);
    EXPECT_EQ(first.scripts, (std::vector<std::string> { "var HostBridgeUtil = {};",
                                 "HostBridgeUtil.getDictionaryKeys = function(obj) { return Object.keys(obj);};" }));
    EXPECT_EQ(first.loadScript,
        "try{webhost.require('webhost/channel').onNativeReady.fire();}catch(e){window._nativeReady = true;}");
    EXPECT_EQ(m_delegate.bridge()->viewController(), m_controller.get());
    EXPECT_EQ(m_delegate.bridge()->webView(), &m_webView);
}

TEST_F(WebViewDelegateTest, DeveloperExtrasLeaveTheEngineConsoleInPlace)
{
    ASSERT_TRUE(m_platform.userDefaults.setBool("WebKitDeveloperExtras", true));
    auto window = newWindow();
    EXPECT_FALSE(window.console);
    EXPECT_FALSE(m_delegate.console());
    EXPECT_TRUE(window.hostbridge);
}

TEST_F(WebViewDelegateTest, ConsoleLinesCarryTheirKindAndTheTextFormOfTheValue)
{
    WHConsole console;
    console.call(platform::ConsoleLevel::Log, Value("plain"));
    console.call(platform::ConsoleLevel::Trace, Value(1));
    console.call(platform::ConsoleLevel::Debug, Value(2.5));
    console.call(platform::ConsoleLevel::Info, Value(true));
    console.call(platform::ConsoleLevel::Warn, Value("x"));
    console.call(platform::ConsoleLevel::Error, Value(nullptr));
    console.log(Value::parse(R"({"a":[1,"b"]})"));
    console.log(std::nullopt);
    EXPECT_EQ(m_log.lines(), (std::vector<std::string> { "plain", "trace: 1", "debug: 2.5", "info: 1", "warn: x",
                                 "error: <null>", "{\"a\":[1,\"b\"]}", "undefined" }));
}

TEST_F(WebViewDelegateTest, BridgeCallsReachTheActionWithConvertedArguments)
{
    auto window = newWindow();
    auto args = Value::parse(R"([{"WHType":"ArrayBuffer","data":"AAEC"}, {"k":1}, null, "s"])");
    window.hostbridge->exec(Value("cb1"), Value("rec"), Value("take"), args);
    window.hostbridge->exec(Value(7), Value("Rec"), Value("take"), Value::array());
    window.hostbridge->exec(Value(nullptr), Value("Rec"), Value("take"), Value::array());
    auto& got = RecordingPlugin::received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].callbackId(), "cb1");
    EXPECT_EQ(got[0].cmdClassName(), "rec");
    ASSERT_TRUE(got[0].arguments()[0].is_binary());
    EXPECT_EQ(got[0].arguments()[0].get_binary(), (Bytes { 0, 1, 2 }));
    EXPECT_EQ(got[0].arguments()[1], Value::parse(R"({"k":1})"));
    EXPECT_TRUE(got[0].arguments()[2].is_null());
    EXPECT_EQ(got[1].callbackId(), "7");
    EXPECT_FALSE(got[2].callbackId().has_value());
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(WebViewDelegateTest, BridgeCallsThatCannotBeDispatchedAreLoggedAndRunNothing)
{
    auto window = newWindow();
    window.hostbridge->exec(Value("c"), Value("Nope"), Value("take"), Value::array());
    window.hostbridge->exec(Value("c"), Value("Rec"), Value("give"), Value::array());
    window.hostbridge->exec(Value("c"), Value("Rec"), Value(nullptr), Value::array());
    window.hostbridge->exec(Value("c"), Value("Rec"), Value("take"), Value("not an array"));
    window.hostbridge->exec(Value("c"), Value("Rec"), Value("take"), Value(nullptr));
    EXPECT_TRUE(RecordingPlugin::received().empty());
    EXPECT_EQ(m_log.lines(),
        (std::vector<std::string> {
            "ERROR: Plugin 'Nope' not found, or is not a WHPlugin. Check your plugin mapping in config.xml.",
            "ERROR: Method 'give:' not defined in Plugin 'Rec'",
            "ERROR: Classname and/or methodName not found for command.",
            "ERROR: Arguments of 'Rec.take' are not an array; the call was dropped.",
            "ERROR: Arguments of 'Rec.take' are not an array; the call was dropped.",
        }));
}

TEST_F(WebViewDelegateTest, EngineConsoleMessagesNameTheSourceFileAndNavigationsAreLogged)
{
    const std::pair<const char*, const char*> sources[] = { { "file:///app/www/js/main.js", "main.js" },
        { "http://host/dir/", "dir" }, { "page.html", "page.html" }, { "/", "/" }, { "", "" } };
    for (const auto& [url, file] : sources) {
        m_log.clear();
        m_delegate.addMessageToConsole({ url, 12, "boom" });
        EXPECT_EQ(m_log.lines(), std::vector<std::string> { std::string("JavaScript error: ") + file + ":12: boom" }) << url;
    }
    EXPECT_EQ(m_delegate.decidePolicyForNavigation("https://example.org/other"), platform::PolicyDecision::Use);
    EXPECT_EQ(m_log.lines().back(), "navigating to https://example.org/other");
}

} // namespace
