#include <gtest/gtest.h>

#include "bridge/WHInvokedUrlCommand.h"
#include "support/LogCapture.h"

using namespace penwick;

namespace {
Value marker(const char* data) { return Value { { "WHType", "ArrayBuffer" }, { "data", data } }; }
} // namespace

TEST(WHInvokedUrlCommand, ArgumentAccessorsAnswerDefaultsForMissingNullAndWrongClass)
{
    WHInvokedUrlCommand command(ValueArray { "a", nullptr, 5, true }, "cb", "File", "getFile");
    const Value x = "x";
    const Value d = "d";

    ASSERT_NE(command.argumentAtIndex(0, nullptr, ValueClass::String), nullptr);
    EXPECT_EQ(*command.argumentAtIndex(0, nullptr, ValueClass::String), "a");
    EXPECT_EQ(command.argumentAtIndex(1, &x), &x);
    EXPECT_EQ(command.argumentAtIndex(1, "x"), "x");
    EXPECT_EQ(command.argumentAtIndex(2, "d", ValueClass::String), "d");
    EXPECT_EQ(command.argumentAtIndex(2, &d, ValueClass::Number)->get<int>(), 5);
    EXPECT_EQ(command.argumentAtIndex(4, "d"), "d");
    EXPECT_EQ(command.argumentAtIndex(4), nullptr);
    EXPECT_EQ(command.argumentAtIndex(1), nullptr);
    // Booleans are numbers to the class check, and stay booleans.
    const Value* flag = command.argumentAtIndex(3, nullptr, ValueClass::Number);
    ASSERT_NE(flag, nullptr);
    EXPECT_TRUE(flag->is_boolean());
}

TEST(WHInvokedUrlCommand, TopLevelMarkersBecomeBytesInACopy)
{
    auto original = std::make_shared<const ValueArray>(ValueArray { "name", marker("AAEC"), ValueArray { marker("AAEC") },
        Value { { "WHType", "ArrayBuffer" } }, Value { { "WHType", 7 }, { "data", "AAEC" } }, marker("") });
    const ValueArray before = *original;
    WHInvokedUrlCommand command(original, "cb", "File", "write");

    const ValueArray& args = command.arguments();
    ASSERT_EQ(args.size(), 6u);
    EXPECT_EQ(args[0], "name");
    ASSERT_TRUE(args[1].is_binary());
    EXPECT_EQ(args[1].get_binary(), (Bytes { 0, 1, 2 }));
    EXPECT_TRUE(args[2].is_array()); // nested markers stay dictionaries
    EXPECT_TRUE(args[2][0].is_object());
    EXPECT_TRUE(args[3].is_object()); // no "data"
    EXPECT_TRUE(args[4].is_object()); // "WHType" not a string
    ASSERT_TRUE(args[5].is_binary());
    EXPECT_TRUE(args[5].get_binary().empty());

    EXPECT_NE(command.argumentsArray(), original);
    EXPECT_EQ(*original, before);
}

TEST(WHInvokedUrlCommand, CommandWithoutMarkersKeepsTheArrayItWasGiven)
{
    auto original = std::make_shared<const ValueArray>(ValueArray { 1, "two", ValueArray { marker("AAEC") } });
    WHInvokedUrlCommand command(original, "cb", "File", "write");
    EXPECT_EQ(command.argumentsArray(), original);
}

TEST(WHInvokedUrlCommand, MarkerWithInvalidBase64StaysAndIsLogged)
{
    test::LogCapture log;
    WHInvokedUrlCommand command(ValueArray { marker("AA EC"), marker("AAEC") }, "cb", "File", "write");
    EXPECT_TRUE(command.arguments()[0].is_object());
    EXPECT_TRUE(command.arguments()[1].is_binary());
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(WHInvokedUrlCommand, FromJsonTakesTheFourElements)
{
    auto command = WHInvokedUrlCommand::commandFromJson(
        Value::parse(R"(["File1", "File", "readAsText", ["/a.txt", {"WHType": "ArrayBuffer", "data": "AAEC"}]])"));
    EXPECT_EQ(command.callbackId(), "File1");
    EXPECT_EQ(command.cmdClassName(), "File");
    EXPECT_EQ(command.methodName(), "readAsText");
    ASSERT_EQ(command.arguments().size(), 2u);
    EXPECT_TRUE(command.arguments()[1].is_binary());

    auto nullId = WHInvokedUrlCommand::commandFromJson(Value::parse(R"([null, "File", "x", []])"));
    EXPECT_FALSE(nullId.callbackId());
    EXPECT_TRUE(nullId.cmdClassName());
}

TEST(WHInvokedUrlCommand, MalformedJsonEntriesGiveUndispatchableCommands)
{
    for (const char* text : { R"(["cb", "File", "x"])", R"(["cb", "File", "x", "notAnArray"])", R"({"a": 1})",
             R"(["cb", 5, "x", []])", R"(["cb", "File", null, []])" }) {
        auto command = WHInvokedUrlCommand::commandFromJson(Value::parse(text));
        EXPECT_TRUE(!command.cmdClassName() || !command.methodName()) << text;
    }
}
