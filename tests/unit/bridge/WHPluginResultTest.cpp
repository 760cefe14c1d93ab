#include <gtest/gtest.h>

#include "bridge/WHPluginResult.h"
#include "support/LogCapture.h"

using namespace penwick;

namespace {
// What the page's callback receives: the text parsed as JSON.
Value pageValue(const WHPluginResult& result)
{
    auto json = result.argumentsAsJSON();
    EXPECT_TRUE(json);
    return json ? Value::parse(*json) : Value("<no arguments>");
}
} // namespace

TEST(WHPluginResult, EveryMessageFormReachesThePageAsItsJsonValue)
{
    using S = CommandStatus;
    const ValueArray parts { "a", Value::binary({ 0, 1, 2 }), 7 };
    const std::pair<WHPluginResult, const char*> cases[] = {
        { WHPluginResult::resultWithStatus(S::OK), "null" },
        { WHPluginResult::resultWithStatus(S::OK, "abc"), R"("abc")" },
        { WHPluginResult::resultWithStatusMessageAsInt(S::OK, -1), "-1" },
        { WHPluginResult::resultWithStatusMessageAsDouble(S::OK, 2.5), "2.5" },
        { WHPluginResult::resultWithStatusMessageAsBool(S::OK, true), "true" }, // not 1
        { WHPluginResult::resultWithStatusMessageAsBool(S::OK, false), "false" },
        { WHPluginResult::resultWithStatusMessageAsArray(S::OK, { 1, "two", nullptr }), R"([1, "two", null])" },
        { WHPluginResult::resultWithStatusMessageAsDictionary(S::OK, { { "n", "a" }, { "size", 3 } }), R"({"n": "a", "size": 3})" },
        { WHPluginResult::resultWithStatusMessageAsArrayBuffer(S::OK, {}), R"({"WHType": "ArrayBuffer", "data": ""})" },
        { WHPluginResult::resultWithStatusMessageAsArrayBuffer(S::OK, { 0, 1, 2 }), R"({"WHType": "ArrayBuffer", "data": "AAEC"})" },
        { WHPluginResult::resultWithStatusMessageToErrorObject(S::IOException, 5), R"({"code": 5})" },
        { WHPluginResult::resultWithStatusMessageAsMultipart(S::OK, parts),
            R"({"WHType": "MultiPart", "messages": ["a", {"WHType": "ArrayBuffer", "data": "AAEC"}, 7]})" },
    };
    for (const auto& [result, expected] : cases)
        EXPECT_EQ(pageValue(result), Value::parse(expected)) << expected;
    EXPECT_TRUE(parts[1].is_binary()) << "the caller's array is left as it was";
}

TEST(WHPluginResult, TextsWithLineBreaksStayOneLineAndInvalidUtf8IsLogged)
{
    const std::string text = "it's \"quoted\" \\ back\nslash\r\u2028 </script> \x01";
    auto json = WHPluginResult::resultWithStatus(CommandStatus::OK, text).argumentsAsJSON();
    ASSERT_TRUE(json);
    EXPECT_EQ(Value::parse(*json), text);
    EXPECT_EQ(json->find('\n', 1), json->size() - 1) << "only the layout's own line breaks";

    test::LogCapture log;
    EXPECT_FALSE(WHPluginResult::resultWithStatus(CommandStatus::OK, std::string("\xC0\xAF")).argumentsAsJSON());
    EXPECT_EQ(log.lines(), std::vector<std::string> { "NSArray JSONString error: invalid UTF-8 in a text" });
}

TEST(WHPluginResult, AssociatedObjectLivesWithTheResultAndNeverReachesThePage)
{
    auto result = WHPluginResult::resultWithStatus(CommandStatus::OK, "x");
    auto held = std::make_shared<Bytes>(Bytes { 1, 2 });
    std::weak_ptr<Bytes> watch = held;
    {
        auto copy = result;
        copy.setAssociatedObject(std::move(held));
        EXPECT_FALSE(watch.expired());
        EXPECT_EQ(pageValue(copy), "x");
    }
    EXPECT_TRUE(watch.expired());
}
