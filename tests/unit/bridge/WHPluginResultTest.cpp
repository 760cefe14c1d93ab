#include <gtest/gtest.h>

#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHPluginResult.h"

using namespace penwick;

namespace {
// What the page's callback receives: the text parsed as JSON.
Value pageValue(const WHPluginResult& result)
{
    // nativeCallback('x',<status>,<message>,<keep>)
    std::string js = WHCommandDelegateImpl::nativeCallbackExpression(result, "x");
    size_t start = js.find(',', js.find("('x',") + 5) + 1;
    return Value::parse(js.substr(start, js.rfind(',') - start));
}
} // namespace

// Texts, numbers, byte buffers and multipart answers reach the page in the end-to-end bridge test.
TEST(WHPluginResult, EveryOtherMessageFormReachesThePageAsItsJsonValue)
{
    using S = CommandStatus;
    const std::pair<WHPluginResult, const char*> cases[] = {
        { WHPluginResult::resultWithStatus(S::OK), "null" },
        { WHPluginResult::resultWithStatusMessageAsDouble(S::OK, 2.5), "2.5" },
        { WHPluginResult::resultWithStatusMessageAsBool(S::OK, true), "true" }, // not 1
        { WHPluginResult::resultWithStatusMessageAsBool(S::OK, false), "false" },
        { WHPluginResult::resultWithStatusMessageAsArray(S::OK, { 1, "two", nullptr }), R"([1, "two", null])" },
        { WHPluginResult::resultWithStatusMessageAsDictionary(S::OK, { { "n", "a" }, { "size", 3 } }), R"({"n": "a", "size": 3})" },
    };
    for (const auto& [result, expected] : cases)
        EXPECT_EQ(pageValue(result), Value::parse(expected)) << expected;
}
