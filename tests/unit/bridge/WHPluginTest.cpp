// The plugin registry: which instance a service name reaches, and when it is made.
#include <gtest/gtest.h>

#include "BridgeTestSupport.h"

using namespace penwick;
using namespace penwick::test;

using RegistryTest = BridgeTest;

// A startup plugin is made as the page loads; every service name of its class, in any case, then
// reaches that one instance.
TEST_F(RegistryTest, ServiceNamesOfAnyCaseReachTheOneInstanceOfTheirClassInitialisedOnceWithItsLinksSet)
{
    auto vc = makeController("<feature name=\"Early\"><param name=\"osx-package\" value=\"TestRecordingPlugin\"/>"
                             "<param name=\"onload\" value=\"true\"/></feature>");
    m_platform.environment.writeResource("www/index.html", "<html></html>");
    vc->awakeFromNib();
    WHPlugin* created = vc->pluginRegistry().pluginObject(RecordingPlugin::kClassName);
    ASSERT_NE(created, nullptr);
    for (const char* name : { "early", "File", "FILE" })
        EXPECT_EQ(vc->getCommandInstance(name), created) << name;
    EXPECT_EQ(vc->commandDelegate()->getCommandInstance("fIlE"), created);
    auto& plugin = static_cast<RecordingPlugin&>(*created);
    EXPECT_EQ(plugin.initializeCount, 1);
    EXPECT_TRUE(plugin.linksSetAtInitialize);
    EXPECT_EQ(plugin.webView(), &m_webView);

    // An unknown service is silent; a mapped class that does not exist is logged every time.
    const size_t logged = m_log.lines().size();
    for (const char* name : { "Nobody", "Ghost", "GHOST" })
        EXPECT_EQ(vc->getCommandInstance(name), nullptr) << name;
    const auto lines = m_log.lines();
    EXPECT_EQ(std::vector(lines.begin() + static_cast<std::ptrdiff_t>(logged), lines.end()),
        (std::vector<std::string> { "WHPlugin class NoSuchClass (pluginName: Ghost) does not exist.",
            "WHPlugin class NoSuchClass (pluginName: GHOST) does not exist." }));
}
