#include <gtest/gtest.h>

#include "BridgeTestSupport.h"
#include "bridge/WHBridge.h"

using namespace penwick;
using namespace penwick::test;

using BridgeObjectTest = BridgeTest;

// A call that reaches no action is still answered: an error status and a text naming what was wrong,
// through the same native callback as every result; one asking for no answer gets none. An unknown
// service or action is answered end to end, where the page reads the same texts.
TEST_F(BridgeObjectTest, CallsThatRunNoActionAreAnsweredWithWhy)
{
    auto vc = makeController();
    struct Case {
        const char* service;
        const char* action;
        Value arguments;
        WHBridge::Permission permission;
        std::string answer;
    };
    const Value none = Value::array();
    const std::string callback = "webhost.require('webhost/exec').nativeCallback('cb',";
    const Case cases[] = {
        { "File", "echo", Value("text"), WHBridge::Permission::Allowed, "8,\n  \"the arguments of File.echo are not an array\"\n,0)" },
        { "File", "echo", none, WHBridge::Permission::Refused,
            "3,\n  \"a frame of https://else.example may not call native code\"\n,0)" },
    };
    size_t seen = 0;
    for (const auto& c : cases) {
        platform::WindowObject window;
        WHBridge bridge(&m_webView, vc.get(), window, c.permission, "https://else.example");
        bridge.exec(Value("cb"), Value(c.service), Value(c.action), c.arguments);
        bridge.exec(Value("INVALID"), Value(c.service), Value(c.action), c.arguments);
        m_platform.scheduler.runPending();
        auto scripts = m_webView.scripts();
        ASSERT_EQ(scripts.size(), seen + 1) << c.service << "." << c.action;
        EXPECT_EQ(scripts.back(), callback + c.answer);
        seen = scripts.size();
    }
    // A call too large for the channel: its size is told only to a frame that may call native code.
    for (auto permission : { WHBridge::Permission::Allowed, WHBridge::Permission::Refused }) {
        platform::WindowObject window;
        WHBridge bridge(&m_webView, vc.get(), window, permission, "https://else.example");
        bridge.execRefused(Value("cb"), "too large");
        m_platform.scheduler.runPending();
        EXPECT_EQ(m_webView.scripts().back(), callback
                + (permission == WHBridge::Permission::Allowed ? "9,\n  \"too large\"\n,0)" : cases[1].answer));
    }
    EXPECT_TRUE(filePlugin(*vc).calls.empty());
}
