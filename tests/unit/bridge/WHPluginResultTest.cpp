#include <gtest/gtest.h>

#include "bridge/WHJSONSerializing.h"
#include "bridge/WHPluginResult.h"
#include "support/LogCapture.h"

using namespace penwick;

namespace {
// What the page's callback receives: the text parsed as JSON.
Value pageValue(const WHPluginResult& result)
{
    auto json = result.argumentsAsJSON();
    EXPECT_TRUE(json);
    return json ? Value::parse(*json) : Value();
}
} // namespace

TEST(WHPluginResult, StatusMessagesByValue)
{
    const char* expected[] = { "No result", "OK", "Class not found", "Illegal access", "Instantiation error",
        "Malformed url", "IO error", "Invalid action", "JSON error", "Error" };
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(WHPluginResult::statusMessage(i), expected[i]);
    WHPluginResult empty;
    EXPECT_EQ(empty.status(), 0);
    EXPECT_FALSE(empty.message());
    EXPECT_FALSE(empty.keepCallback());
}

TEST(WHPluginResult, EveryMessageFormReachesThePageAsItsJsonValue)
{
    using S = CommandStatus;
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatus(S::OK)), nullptr);
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatus(S::OK, "abc")), "abc");
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageAsInt(S::OK, -1)), -1);
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageAsDouble(S::OK, 2.5)), 2.5);
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageAsBool(S::OK, true)), true);
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageAsBool(S::OK, false)), false);
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageAsArray(S::OK, { 1, "two", nullptr })),
        Value::parse(R"([1, "two", null])"));
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageAsDictionary(S::OK, { { "name", "a" }, { "size", 3 } })),
        Value::parse(R"({"name": "a", "size": 3})"));
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageAsArrayBuffer(S::OK, {})),
        Value::parse(R"({"WHType": "ArrayBuffer", "data": ""})"));
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageAsArrayBuffer(S::OK, { 0, 1, 2 })),
        Value::parse(R"({"WHType": "ArrayBuffer", "data": "AAEC"})"));
    EXPECT_EQ(pageValue(WHPluginResult::resultWithStatusMessageToErrorObject(S::IOException, 5)),
        Value::parse(R"({"code": 5})"));
    // Booleans must not turn into 1/0 on the way.
    auto boolText = *WHPluginResult::resultWithStatusMessageAsBool(S::OK, true).argumentsAsJSON();
    EXPECT_NE(boolText.find("true"), std::string::npos);
}

TEST(WHPluginResult, MultipartConvertsTopLevelBuffersOnlyAndLeavesTheCallersArray)
{
    const ValueArray parts { "a", Value::binary({ 0, 1, 2 }), 7 };
    const ValueArray before = parts;
    auto result = WHPluginResult::resultWithStatusMessageAsMultipart(CommandStatus::OK, parts);
    EXPECT_EQ(pageValue(result),
        Value::parse(R"({"WHType": "MultiPart", "messages": ["a", {"WHType": "ArrayBuffer", "data": "AAEC"}, 7]})"));
    EXPECT_EQ(parts, before);
}

TEST(WHPluginResult, TextsThatWouldBreakTheExpressionComeOutEscaped)
{
    const std::string text = "it's \"quoted\" \\ back\nslash\r\u2028 </script> \x01";
    auto json = WHPluginResult::resultWithStatus(CommandStatus::OK, text).argumentsAsJSON();
    ASSERT_TRUE(json);
    EXPECT_EQ(json->find('\n', 1), json->size() - 1); // only the layout's own line breaks
    EXPECT_EQ(Value::parse(*json), text);
}

TEST(WHPluginResult, ArgumentsAreTheBracketlessOneElementArray)
{
    for (const Value& message : { Value("abc"), Value(5), Value::parse(R"({"a": [1, {"b": null}]})") }) {
        WHPluginResult result(1, message);
        auto array = WHJSONSerializing::JSONString(ValueArray { message });
        ASSERT_TRUE(array);
        EXPECT_EQ(result.argumentsAsJSON(), array->substr(1, array->size() - 2));
    }
    EXPECT_EQ(WHPluginResult(1, std::nullopt).argumentsAsJSON(), "\n  null\n");
}

TEST(WHPluginResult, MalformedTextGivesNoArguments)
{
    test::LogCapture log;
    EXPECT_FALSE(WHPluginResult::resultWithStatus(CommandStatus::OK, std::string("\xC0\xAF")).argumentsAsJSON());
    EXPECT_EQ(log.count("NSArray JSONString error: invalid UTF-8 in a text"), 1u);
}

TEST(WHPluginResult, KeepCallbackAndAssociatedObject)
{
    auto result = WHPluginResult::resultWithStatus(CommandStatus::OK, "x");
    EXPECT_FALSE(result.keepCallback());
    result.setKeepCallbackAsBool(true);
    EXPECT_TRUE(result.keepCallback());
    result.setKeepCallback(KeepCallback::No);
    EXPECT_FALSE(result.keepCallback());

    auto held = std::make_shared<Bytes>(Bytes { 1, 2 });
    std::weak_ptr<Bytes> watch = held;
    {
        auto copy = result;
        copy.setAssociatedObject(std::move(held));
        EXPECT_FALSE(watch.expired());
        EXPECT_EQ(Value::parse(*copy.argumentsAsJSON()), "x"); // never sent to the page
    }
    EXPECT_TRUE(watch.expired());
}
