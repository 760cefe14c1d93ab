#include <gtest/gtest.h>

#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHJSONSerializing.h"
#include "bridge/WHPluginResult.h"
#include "support/LogCapture.h"

using namespace penwick;

// Texts, numbers, byte buffers and multipart answers reach the page in the end-to-end bridge test;
// every other form reaches it as its JSON value (a bool as true, not 1).
TEST(WHJSONSerializing, EveryMessageFormReachesThePageAsItsJsonValueInTheReferenceLayoutAndMalformedOrOversizedTextIsRefused)
{
    using R = WHPluginResult;
    constexpr auto OK = CommandStatus::OK;
    const std::pair<WHPluginResult, const char*> cases[]
        = { { R::resultWithStatus(OK), "null" }, { R::resultWithStatusMessageAsDouble(OK, 2.5), "2.5" },
              { R::resultWithStatusMessageAsBool(OK, true), "true" }, { R::resultWithStatusMessageAsBool(OK, false), "false" },
              { R::resultWithStatusMessageAsArray(OK, { 1, "two", nullptr }), R"([1, "two", null])" },
              { R::resultWithStatusMessageAsDictionary(OK, { { "n", "a" }, { "size", 3 } }), R"({"n": "a", "size": 3})" } };
    for (const auto& [result, expected] : cases) {
        // nativeCallback('x',<status>,<message>,<keep>)
        const std::string js = WHCommandDelegateImpl::nativeCallbackExpression(result, "x");
        const size_t start = js.find(',', js.find("('x',") + 5) + 1;
        EXPECT_EQ(Value::parse(js.substr(start, js.rfind(',') - start)), Value::parse(expected)) << expected;
    }

    // The page parses what we write, in the common pretty layout (two spaces, "key": value, one member
    // per line); text that is not well-formed UTF-8, nesting past the limit and text past the size limit
    // are refused.
    Value value = Value::parse(R"([{
        "text": "quote \" backslash \\ line\nbreak tab\t ctl \u0001 del \u007f é \u2028 😀",
        "numbers": [0, -1, 4294967296, 18446744073709551615, 1.5, -0.25, 1e300], "flags": [true, false, null],
        "nested": {"empty array": [], "empty object": {}, "deeper": [[1, [2]], {"k": "v"}]}, "": "empty key"}, "x", [], 3])");
    std::string out;
    EXPECT_FALSE(WHJSONSerializing::appendPrettyJSON(out, value, 0));
    EXPECT_EQ(out, value.dump(2));
    out.clear();
    EXPECT_FALSE(WHJSONSerializing::appendPrettyJSON(out, Value::array({ Value::binary({ 0, 1, 2 }) }), 0));
    EXPECT_EQ(Value::parse(out), Value::parse(R"([{"WHType": "ArrayBuffer", "data": "AAEC"}])"));

    Value deep = Value::array();
    for (int i = 0; i < 5000; ++i)
        deep = Value::array({ std::move(deep) });
    for (const Value& bad : { Value::array({ "ok", std::string("bad \xC3(") }), Value { { "k\xFF", 1 } },
             Value { { "k", std::string("\xED\xA0\x80") } } /* a surrogate */, std::move(deep) }) {
        out.clear();
        EXPECT_TRUE(WHJSONSerializing::appendPrettyJSON(out, bad, 0));
    }

    // Deep nesting multiplies indentation: writing stops once the text passes the limit, and the
    // callback then hears an error instead of a text the page channel cannot carry. "[[[1]]]" takes
    // 31 bytes written out.
    const std::string x200(200, 'x');
    for (auto [value, limit] : { std::pair { Value::parse("[[[1]]]"), 25 }, { Value(x200), 100 }, { Value::binary(Bytes(200)), 100 } }) {
        out.clear();
        EXPECT_EQ(WHJSONSerializing::appendPrettyJSON(out, value, 0, limit), WHJSONSerializing::kTooLarge) << value;
        EXPECT_LE(out.size(), limit + 16u) << value;
    }
    test::LogCapture log;
    auto previous = WHCommandDelegateImpl::setMaxResultSizeForTesting(100);
    auto expression = WHCommandDelegateImpl::nativeCallbackExpression(WHPluginResult::resultWithStatus(CommandStatus::OK, x200), "cb");
    WHCommandDelegateImpl::setMaxResultSizeForTesting(previous);
    EXPECT_NE(expression.find("nativeCallback('cb',9,\n  \"the result is larger than 100 bytes\"\n,0)"), std::string::npos) << expression;
    EXPECT_EQ(log.lines(),
        std::vector<std::string> { "ERROR: the result for callback cb passed 100 bytes, more than the page channel carries; "
                                   "the call gets an error instead" });
}
