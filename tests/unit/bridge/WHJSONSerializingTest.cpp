#include <gtest/gtest.h>

#include "bridge/WHJSONSerializing.h"
#include "support/LogCapture.h"

using namespace penwick;

namespace {
bool startsWith(const std::string& s, std::string_view p) { return s.rfind(p, 0) == 0; }

Value richValue()
{
    return Value::parse(R"({
        "text": "quote \" backslash \\ line\nbreak tab\t ctl \u0001 del \u007f é \u2028 😀",
        "numbers": [0, -1, 4294967296, 18446744073709551615, 1.5, -0.25, 1e300],
        "flags": [true, false, null],
        "nested": {"empty array": [], "empty object": {}, "deeper": [[1, [2]], {"k": "v"}]},
        "": "empty key"
    })");
}
} // namespace

// The page parses what we write, and the result layout must stay that of the common pretty form
// (two spaces, "key": value, one member per line), which the delegate's tests depend on.
TEST(WHJSONSerializing, PrettyTextMatchesTheReferenceLayoutAndParsesBack)
{
    Value value = richValue();
    auto object = WHJSONSerializing::JSONString(value.get_ref<const ValueObject&>());
    ASSERT_TRUE(object);
    EXPECT_EQ(*object, value.dump(2));
    EXPECT_EQ(Value::parse(*object), value);

    ValueArray array { value, "x", ValueArray {}, 3 };
    auto text = WHJSONSerializing::JSONString(array);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, Value(array).dump(2));
    EXPECT_EQ(text->front(), '[');
    EXPECT_EQ(text->back(), ']');
    EXPECT_EQ(*WHJSONSerializing::JSONString(ValueArray {}), "[]");
    EXPECT_EQ(*WHJSONSerializing::JSONString(ValueObject {}), "{}");
}

TEST(WHJSONSerializing, ByteBuffersAreWrittenAsArrayBufferMarkers)
{
    auto text = WHJSONSerializing::JSONString(ValueArray { Value::binary({ 0, 1, 2 }) });
    ASSERT_TRUE(text);
    EXPECT_EQ(Value::parse(*text), Value::parse(R"([{"WHType": "ArrayBuffer", "data": "AAEC"}])"));
}

TEST(WHJSONSerializing, MalformedTextLogsTheFixedLineAndAnswersNothing)
{
    test::LogCapture log;
    EXPECT_FALSE(WHJSONSerializing::JSONString(ValueArray { "ok", std::string("bad \xC3(") }));
    EXPECT_FALSE(WHJSONSerializing::JSONString(ValueObject { { "k\xFF", 1 } }));
    EXPECT_FALSE(WHJSONSerializing::JSONString(ValueObject { { "k", std::string("\xED\xA0\x80") } })); // a surrogate
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(startsWith(lines[0], "NSArray JSONString error: "));
    EXPECT_TRUE(startsWith(lines[1], "NSDictionary JSONString error: "));
    EXPECT_TRUE(startsWith(lines[2], "NSDictionary JSONString error: "));
}

TEST(WHJSONSerializing, DeepNestingIsAnErrorNotACrash)
{
    test::LogCapture log;
    Value deep = Value::array();
    for (int i = 0; i < 5000; ++i)
        deep = Value::array({ std::move(deep) });
    EXPECT_FALSE(WHJSONSerializing::JSONString(ValueArray { deep }));
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(WHJSONSerializing, JSONObjectWantsAnArrayOrObjectAtTheTop)
{
    test::LogCapture log;
    auto array = WHJSONSerializing::JSONObject(R"([["cb", "S", "a", []]])");
    ASSERT_TRUE(array);
    EXPECT_TRUE(array->is_array());
    EXPECT_TRUE(WHJSONSerializing::JSONObject(R"({"a": 1})"));
    EXPECT_TRUE(log.lines().empty());

    EXPECT_FALSE(WHJSONSerializing::JSONObject("\"text\""));
    EXPECT_FALSE(WHJSONSerializing::JSONObject("5"));
    EXPECT_FALSE(WHJSONSerializing::JSONObject("[1, 2"));
    EXPECT_FALSE(WHJSONSerializing::JSONObject(""));
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines)
        EXPECT_TRUE(startsWith(line, "NSString JSONObject error: ")) << line;
}
