// Plugin base, action tables, notifications and the plugin registry.
#include <gtest/gtest.h>

#include "BridgeTestSupport.h"

using namespace penwick;
using namespace penwick::test;

namespace {
WHInvokedUrlCommand command(const char* id) { return WHInvokedUrlCommand(ValueArray {}, id, "File", "echo"); }
} // namespace

using PluginTest = BridgeTest;

TEST_F(PluginTest, ActionsAreFoundByTheirNameWithColonAndDerivedTablesExtendTheirBase)
{
    auto vc = makeController();
    auto plugin = makePlugin<RecordingPlugin>(*vc);
    auto derived = makePlugin<DerivedPlugin>(*vc);
    const std::tuple<WHPlugin&, const char*, bool> cases[] = { { *plugin, "echo:", true }, { *plugin, "echo", false },
        { *plugin, "", false }, { *plugin, "extra:", false }, // the base class's table is not widened
        { *derived, "echo:", true }, { *derived, "extra:", true } };
    for (const auto& [target, action, found] : cases) {
        EXPECT_EQ(target.hasAction(action), found) << action;
        EXPECT_EQ(target.invokeAction(action, command(action)), found) << action;
    }
    EXPECT_EQ(plugin->calls, std::vector<std::string> { "echo:" });
    EXPECT_EQ(derived->calls, std::vector<std::string> { "echo:" });
    EXPECT_EQ(derived->extraCount, 1);
}

TEST_F(PluginTest, ObservesOpenUrlFromAnySenderAndResetFromItsOwnWebViewUntilDestroyed)
{
    auto vc = makeController();
    auto& center = WHNotificationCenter::defaultCenter();
    const size_t observersBefore = center.observerCount();
    RecordingWebView other;
    {
        auto plugin = makePlugin<RecordingPlugin>(*vc);
        center.post({ std::string(WHPluginHandleOpenURLNotification), &other, "app://x" });
        center.post({ std::string(WHPluginResetNotification), &other, nullptr });
        center.post({ std::string(WHPluginResetNotification), &m_webView, nullptr });
        center.post({ std::string(WHPageDidLoadNotification), &m_webView, nullptr });
        EXPECT_EQ(plugin->openURLs, std::vector<Value> { "app://x" });
        EXPECT_EQ(plugin->resetCount, 1);
    }
    EXPECT_EQ(center.observerCount(), observersBefore);
}

TEST(WHNotificationCenter, ObserverMayRemoveAnotherWhileAPostIsDelivered)
{
    WHNotificationCenter center;
    int first = 0, second = 0;
    WHNotificationCenter::ObserverId secondId = 0;
    auto firstId = center.addObserver("N", nullptr, [&](const WHNotification&) {
        ++first;
        center.removeObserver(secondId);
    });
    secondId = center.addObserver("N", nullptr, [&](const WHNotification&) { ++second; });
    center.post({ "N", nullptr, nullptr });
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    center.removeObserver(firstId);
}

using RegistryTest = BridgeTest;

TEST_F(RegistryTest, ServiceNamesOfAnyCaseReachOneInstanceInitialisedOnceWithItsLinksSet)
{
    auto vc = makeController();
    WHPlugin* a = vc->getCommandInstance("File");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(vc->getCommandInstance("FILE"), a);
    EXPECT_EQ(vc->commandDelegate()->getCommandInstance("fIlE"), a);
    auto& plugin = static_cast<RecordingPlugin&>(*a);
    EXPECT_EQ(plugin.initializeCount, 1);
    EXPECT_TRUE(plugin.linksSetAtInitialize);
    EXPECT_EQ(plugin.webView(), &m_webView);

    // An unknown service is silent; a mapped class that does not exist is logged every time.
    EXPECT_EQ(vc->getCommandInstance("Nobody"), nullptr);
    EXPECT_EQ(vc->getCommandInstance("Ghost"), nullptr);
    EXPECT_EQ(vc->getCommandInstance("GHOST"), nullptr);
    EXPECT_EQ(m_log.lines(), (std::vector<std::string> { "WHPlugin class NoSuchClass (pluginName: Ghost) does not exist.",
                                 "WHPlugin class NoSuchClass (pluginName: GHOST) does not exist." }));
}

TEST_F(RegistryTest, RegisteredPluginsResolveAndReplacedOnesStayAlive)
{
    auto vc = makeController();
    auto plugin = makePlugin<DerivedPlugin>(*vc);
    DerivedPlugin* raw = plugin.get();
    vc->registerPluginWithPluginName(std::move(plugin), "MyPlugin");
    EXPECT_TRUE(raw->linksSetAtInitialize);
    EXPECT_EQ(vc->getCommandInstance("MYPLUGIN"), raw);
    EXPECT_EQ(raw->initializeCount, 1);

    // Replaced from inside its own action: the running instance must survive the call.
    raw->onEcho = [&](const WHInvokedUrlCommand&) {
        vc->registerPluginWithClassName(makePlugin<DerivedPlugin>(*vc), DerivedPlugin::kClassName);
        raw->calls.push_back("still alive");
    };
    EXPECT_TRUE(raw->invokeAction("echo:", command("r")));
    EXPECT_NE(vc->getCommandInstance("myplugin"), raw);
    EXPECT_EQ(raw->calls.back(), "still alive");
}

TEST_F(RegistryTest, StartupPluginIsTheInstanceThePageReaches)
{
    auto vc = makeController(
        "<feature name=\"Early\"><param name=\"osx-package\" value=\"TestDerivedPlugin\"/>"
        "<param name=\"onload\" value=\"true\"/></feature>");
    m_platform.environment.writeResource("www/index.html", "<html></html>");
    vc->awakeFromNib();
    WHPlugin* created = vc->pluginRegistry().pluginObject(DerivedPlugin::kClassName);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(vc->getCommandInstance("early"), created);
    EXPECT_EQ(static_cast<DerivedPlugin*>(created)->initializeCount, 1);
}
