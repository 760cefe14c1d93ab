#include <gtest/gtest.h>

#include "bridge/WHJSONSerializing.h"
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

TEST(WHJSONSerializing, JSONObjectWantsAnArrayOrObjectAtTheTop)
{
    test::LogCapture log;
    EXPECT_TRUE(WHJSONSerializing::JSONObject(R"([["cb", "S", "a", []]])") && WHJSONSerializing::JSONObject(R"({"a": 1})"));
    for (const char* bad : { "\"text\"", "5", "[1, 2", "" })
        EXPECT_FALSE(WHJSONSerializing::JSONObject(bad)) << bad;
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines)
        EXPECT_TRUE(line.starts_with("NSString JSONObject error: ")) << line;
}
