#include <gtest/gtest.h>

#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHJSONSerializing.h"
#include "bridge/WHPluginResult.h"
#include "support/LogCapture.h"

using namespace penwick;

// The page parses what we write, and the layout must stay the common pretty form (two spaces,
// "key": value, one member per line), which the delegate's tests depend on.
TEST(WHJSONSerializing, PrettyTextMatchesTheReferenceLayoutAndParsesBack)
{
    Value value = Value::parse(R"({
        "text": "quote \" backslash \\ line\nbreak tab\t ctl \u0001 del \u007f é \u2028 😀",
        "numbers": [0, -1, 4294967296, 18446744073709551615, 1.5, -0.25, 1e300], "flags": [true, false, null],
        "nested": {"empty array": [], "empty object": {}, "deeper": [[1, [2]], {"k": "v"}]}, "": "empty key"})");
    EXPECT_EQ(WHJSONSerializing::JSONString(value.get_ref<const ValueObject&>()), value.dump(2));
    ValueArray array { value, "x", ValueArray {}, 3 };
    EXPECT_EQ(WHJSONSerializing::JSONString(array), Value(array).dump(2));
    EXPECT_EQ(WHJSONSerializing::JSONString(ValueArray {}), "[]");
    EXPECT_EQ(WHJSONSerializing::JSONString(ValueObject {}), "{}");
    auto buffer = WHJSONSerializing::JSONString(ValueArray { Value::binary({ 0, 1, 2 }) });
    EXPECT_EQ(Value::parse(buffer.value_or("null")), Value::parse(R"([{"WHType": "ArrayBuffer", "data": "AAEC"}])"));
}

TEST(WHJSONSerializing, MalformedTextAndDeepNestingLogTheFixedLineAndAnswerNothing)
{
    Value deep = Value::array();
    for (int i = 0; i < 5000; ++i)
        deep = Value::array({ std::move(deep) });
    test::LogCapture log;
    EXPECT_FALSE(WHJSONSerializing::JSONString(ValueArray { "ok", std::string("bad \xC3(") }));
    EXPECT_FALSE(WHJSONSerializing::JSONString(ValueObject { { "k\xFF", 1 } }));
    EXPECT_FALSE(WHJSONSerializing::JSONString(ValueObject { { "k", std::string("\xED\xA0\x80") } })); // a surrogate
    EXPECT_FALSE(WHJSONSerializing::JSONString(ValueArray { deep }));
    const std::string prefixes[] = { "NSArray", "NSDictionary", "NSDictionary", "NSArray" };
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(lines[i].starts_with(prefixes[i] + " JSONString error: ")) << lines[i];
}

// Deep nesting multiplies indentation: writing stops once the text passes the limit, and the
// callback then hears an error instead of a text the page channel cannot carry.
TEST(WHJSONSerializing, PrettyTextStopsAtTheSizeLimit)
{
    // "[[[1]]]" takes 31 bytes written out.
    for (auto [value, limit] : { std::pair { Value::parse("[[[1]]]"), 25 }, { Value(std::string(200, 'x')), 100 }, { Value::binary(Bytes(200)), 100 } }) {
        std::string out;
        EXPECT_EQ(WHJSONSerializing::appendPrettyJSON(out, value, 0, limit), WHJSONSerializing::kTooLarge) << value;
        EXPECT_LE(out.size(), limit + 16u) << value;
    }
    test::LogCapture log;
    auto previous = WHCommandDelegateImpl::setMaxResultSizeForTesting(100);
    auto expression = WHCommandDelegateImpl::nativeCallbackExpression(WHPluginResult::resultWithStatus(CommandStatus::OK, std::string(200, 'x')), "cb");
    WHCommandDelegateImpl::setMaxResultSizeForTesting(previous);
    EXPECT_NE(expression.find("nativeCallback('cb',9,\n  \"the result is larger than 100 bytes\"\n,0)"), std::string::npos) << expression;
    EXPECT_EQ(log.lines(), std::vector<std::string> { "ERROR: the result for callback cb passed 100 bytes, more than the page "
                                                      "channel carries; the call gets an error instead" });
}
