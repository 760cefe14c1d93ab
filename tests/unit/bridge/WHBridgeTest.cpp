#include <gtest/gtest.h>
#include <tuple>

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
    using P = WHBridge::Permission;
    const std::string refused = expression("cb", 3, "\n  \"a frame of https://else.example may not call native code\"\n", 0);
    // The arguments of File.echo, and the refusal of a call too large for the channel (whose size is
    // told only to a frame that may call native code).
    const std::tuple<Value, const char*, P, std::string> cases[] = {
        { Value("text"), nullptr, P::Allowed, expression("cb", 8, "\n  \"the arguments of File.echo are not an array\"\n", 0) },
        { Value::array(), nullptr, P::Refused, refused }, { Value::array(), "too large", P::Refused, refused },
        { Value::array(), "too large", P::Allowed, expression("cb", 9, "\n  \"too large\"\n", 0) } };
    std::vector<std::string> answers;
    for (const auto& [arguments, tooLarge, permission, answer] : cases) {
        platform::WindowObject window;
        WHBridge bridge(&m_webView, vc.get(), window, permission, "https://else.example");
        if (tooLarge) {
            bridge.execRefused(Value("cb"), tooLarge);
        } else {
            bridge.exec(Value("cb"), Value("File"), Value("echo"), arguments);
            bridge.exec(Value("INVALID"), Value("File"), Value("echo"), arguments);
        }
        answers.push_back(answer);
    }
    m_platform.scheduler.runPending();
    EXPECT_EQ(m_webView.scripts(), answers);
    EXPECT_TRUE(filePlugin(*vc).calls.empty());
}
