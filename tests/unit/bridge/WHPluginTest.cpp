// Plugin base, action tables, notifications, the class table and the controller's registry.
#include <gtest/gtest.h>

#include "BridgeTestSupport.h"

using namespace penwick;
using namespace penwick::test;

namespace {
WHInvokedUrlCommand command(const char* id) { return WHInvokedUrlCommand(ValueArray {}, id, "File", "echo"); }
} // namespace

TEST(WHPlugin, ActionsAreFoundByTheirNameWithColonOnly)
{
    RecordingPlugin plugin(nullptr);
    EXPECT_TRUE(plugin.hasAction("echo:"));
    EXPECT_FALSE(plugin.hasAction("echo"));
    EXPECT_FALSE(plugin.hasAction("nosuch:"));
    EXPECT_FALSE(plugin.hasAction(""));
    EXPECT_TRUE(plugin.invokeAction("echo:", command("c1")));
    EXPECT_FALSE(plugin.invokeAction("nosuch:", command("c2")));
    EXPECT_EQ(plugin.calls, std::vector<std::string> { "c1" });

    DerivedPlugin derived(nullptr);
    EXPECT_TRUE(derived.invokeAction("echo:", command("d1")));
    EXPECT_TRUE(derived.invokeAction("extra:", command("d2")));
    EXPECT_EQ(derived.calls, std::vector<std::string> { "d1" });
    EXPECT_EQ(derived.extraCount, 1);
    EXPECT_FALSE(plugin.hasAction("extra:")); // the base class's table is not widened
}

TEST(WHPlugin, ClassesAreMadeByNameAndUnknownNamesMakeNothing)
{
    registerTestPluginClasses();
    RecordingWebView webView;
    auto plugin = WHPluginFactory::create(RecordingPlugin::kClassName, &webView);
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->className(), RecordingPlugin::kClassName);
    EXPECT_EQ(plugin->webView(), &webView);
    EXPECT_EQ(static_cast<RecordingPlugin&>(*plugin).initializeCount, 0); // the registry initialises
    EXPECT_FALSE(WHPluginFactory::create("NoSuchClass", &webView));
    EXPECT_FALSE(WHPluginFactory::hasClass("testrecordingplugin")); // class names keep their case
}

TEST(WHPlugin, ObservesOpenUrlFromAnySenderAndResetFromItsOwnWebViewUntilDestroyed)
{
    auto& center = WHNotificationCenter::defaultCenter();
    const size_t observersBefore = center.observerCount();
    RecordingWebView mine, other;
    int afterDestruction = 0;
    {
        RecordingPlugin plugin(&mine);
        center.post({ std::string(WHPluginHandleOpenURLNotification), &other, "app://x" });
        center.post({ std::string(WHPluginResetNotification), &other, nullptr });
        center.post({ std::string(WHPluginResetNotification), &mine, nullptr });
        center.post({ std::string(WHPageDidLoadNotification), &mine, nullptr });
        EXPECT_EQ(plugin.openURLs, std::vector<Value> { "app://x" });
        EXPECT_EQ(plugin.resetCount, 1);

        plugin.dispose();
        EXPECT_EQ(plugin.webView(), nullptr);
        EXPECT_EQ(plugin.viewController(), nullptr);
    }
    EXPECT_EQ(center.observerCount(), observersBefore);
    // Posting after the plugin has gone must not reach it.
    auto id = center.addObserver(std::string(WHPluginResetNotification), nullptr, [&](const WHNotification&) { ++afterDestruction; });
    center.post({ std::string(WHPluginResetNotification), &mine, nullptr });
    center.removeObserver(id);
    EXPECT_EQ(afterDestruction, 1);
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
    EXPECT_EQ(center.observerCount(), 0u);
}

using RegistryTest = BridgeTest;

TEST_F(RegistryTest, ServiceNamesOfAnyCaseReachOneInstanceInitialisedOnce)
{
    auto vc = makeController();
    WHPlugin* a = vc->getCommandInstance("File");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(vc->getCommandInstance("file"), a);
    EXPECT_EQ(vc->getCommandInstance("FILE"), a);
    EXPECT_EQ(vc->commandDelegate()->getCommandInstance("fIlE"), a);
    auto& plugin = static_cast<RecordingPlugin&>(*a);
    EXPECT_EQ(plugin.initializeCount, 1);
    EXPECT_TRUE(plugin.linksSetAtInitialize);
    EXPECT_EQ(plugin.viewController(), vc.get());
    EXPECT_EQ(plugin.commandDelegate(), vc->commandDelegate());
    EXPECT_EQ(plugin.webView(), &m_webView);
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(RegistryTest, UnknownServiceIsSilentMissingClassIsLoggedEveryTime)
{
    auto vc = makeController();
    EXPECT_EQ(vc->getCommandInstance("Nobody"), nullptr);
    EXPECT_TRUE(m_log.lines().empty());
    EXPECT_EQ(vc->getCommandInstance("Ghost"), nullptr);
    EXPECT_EQ(vc->getCommandInstance("GHOST"), nullptr);
    EXPECT_EQ(m_log.count("WHPlugin class NoSuchClass (pluginName: Ghost) does not exist."), 1u);
    EXPECT_EQ(m_log.count("WHPlugin class NoSuchClass (pluginName: GHOST) does not exist."), 1u);
}

TEST_F(RegistryTest, RegisterWithPluginNameMakesTheServiceResolvable)
{
    auto vc = makeController();
    auto plugin = std::make_unique<DerivedPlugin>(&m_webView);
    DerivedPlugin* raw = plugin.get();
    vc->registerPluginWithPluginName(std::move(plugin), "MyPlugin");
    EXPECT_EQ(raw->initializeCount, 1);
    EXPECT_TRUE(raw->linksSetAtInitialize);
    EXPECT_EQ(vc->getCommandInstance("myplugin"), raw);
    EXPECT_EQ(vc->getCommandInstance("MYPLUGIN"), raw);
    EXPECT_EQ(raw->initializeCount, 1);
}

TEST_F(RegistryTest, StartupPluginIsTheInstanceThePageReaches)
{
    auto vc = makeController(
        "<feature name=\"Early\"><param name=\"osx-package\" value=\"TestDerivedPlugin\"/>"
        "<param name=\"onload\" value=\"true\"/></feature>");
    m_platform.environment.writeResource("www/index.html", "<html></html>");
    vc->awakeFromNib();
    WHPlugin* created = vc->pluginObject(DerivedPlugin::kClassName);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(vc->getCommandInstance("early"), created);
    EXPECT_EQ(static_cast<DerivedPlugin*>(created)->initializeCount, 1);
}
