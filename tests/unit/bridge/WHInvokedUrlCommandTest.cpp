#include <gtest/gtest.h>

#include "bridge/WHInvokedUrlCommand.h"
#include "channel/ChannelProtocol.h"
#include "support/LogCapture.h"

using namespace penwick;

TEST(WHInvokedUrlCommand, TopLevelMarkersBecomeBytesInACopyLoneSurrogatesReplacementsAndDeepArgumentsAreRefused)
{
    auto marker = [](const char* data) { return Value { { "WHType", "ArrayBuffer" }, { "data", data } }; };
    auto original = std::make_shared<const ValueArray>(ValueArray { "name", marker("AAEC"), ValueArray { marker("AAEC") },
        Value { { "WHType", "ArrayBuffer" } }, Value { { "WHType", 7 }, { "data", "AAEC" } }, marker(""), marker("AA EC") });
    const ValueArray before = *original;
    test::LogCapture log;
    WHInvokedUrlCommand command(original, "cb", "File", "write");
    const ValueArray expected { "name", Value::binary({ 0, 1, 2 }), before[2], before[3], before[4], Value::binary({}),
        before[6] }; // nested markers, markers without text data and invalid Base64 stay dictionaries
    EXPECT_EQ(command.arguments(), expected);
    EXPECT_EQ(*original, before);
    EXPECT_EQ(log.lines().size(), 1u) << "the invalid Base64 is logged";

    auto plain = std::make_shared<const ValueArray>(ValueArray { 1, ValueArray { marker("AAEC") } });
    EXPECT_EQ(WHInvokedUrlCommand(plain, "cb", "File", "write").argumentsArray(), plain) << "no copy without markers";

    // A page call as the channel delivers it: lone surrogates read as U+FFFD; arguments nested deeper
    // than results can be written are refused, however deep, without recursing.
    auto call = [](const std::string& arguments) {
        std::string head = R"(["cb", "S", "a", )" + arguments + "]";
        auto length = static_cast<std::uint32_t>(head.size());
        return channel::decode<channel::ExecCall>(std::string(reinterpret_cast<const char*>(&length), sizeof length) + head);
    };
    auto decoded = call(R"(["\ud800x", "a\uDC00", "\ud83d\ude00", "\\ud800", "\udc00\ud83d"])");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->arguments, Value::parse(R"(["\ufffdx", "a\ufffd", "\ud83d\ude00", "\\ud800", "\ufffd\ufffd"])"));
    for (int levels : { 1000, 1001, 100000 }) {
        decoded = call(std::string(levels, '[') + std::string(levels, ']'));
        ASSERT_TRUE(decoded) << levels;
        EXPECT_EQ(WHInvokedUrlCommand::refusalForArguments(decoded->arguments).has_value(), levels > 1000) << levels;
    }
}
