// The page channel's framing and payloads: frames survive being cut anywhere, no length is written
// or read past the limit, and no payload of the wrong shape escapes its decoder.
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <tuple>

#include "channel/ChannelMessages.h"
#include "channel/ChannelProtocol.h"

using namespace penwick::channel;

namespace {

std::vector<Frame> readAll(FrameReader& reader)
{
    std::vector<Frame> frames;
    Frame frame;
    while (reader.next(frame) == FrameReader::Status::Frame)
        frames.push_back(frame);
    return frames;
}

TEST(Framing, FramesSplitAtEveryByteComeOutWholeAndInOrder)
{
    std::string stream;
    ASSERT_TRUE(appendFrame(stream, FrameKind::Exec, 7, 9, R"(["cb","Svc","act",[1]])"));
    ASSERT_TRUE(appendFrame(stream, FrameKind::ExecDone, 7, 9, ""));
    ASSERT_TRUE(appendFrame(stream, FrameKind::Evaluate, 7, 0, std::string(3000, 'x')));
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        FrameReader reader;
        reader.feed(stream.data(), cut);
        auto frames = readAll(reader);
        reader.feed(stream.data() + cut, stream.size() - cut);
        for (auto& frame : readAll(reader))
            frames.push_back(frame);
        ASSERT_EQ(frames.size(), 3u) << "cut at " << cut;
        EXPECT_EQ(frames[0].kind, FrameKind::Exec);
        EXPECT_EQ(frames[0].page + frames[0].context, 16u);
        EXPECT_EQ(frames[0].payload, R"(["cb","Svc","act",[1]])");
        EXPECT_EQ(frames[1].kind, FrameKind::ExecDone);
        EXPECT_TRUE(frames[1].payload.empty());
        EXPECT_EQ(frames[2].payload, std::string(3000, 'x'));
        EXPECT_TRUE(reader.empty());
    }
}

TEST(Framing, HeadersNoSenderWritesBreakTheStream)
{
    const FrameHeader headers[] = {
        { 0, 0, 1, 1 },
        { 0, kLastFrameKind + 1, 1, 1 },
        { kMaxPayload + 1, 4, 1, 1 },
        { 0xffffffffu, 4, 1, 1 },
    };
    for (const auto& header : headers) {
        FrameReader reader;
        reader.feed(reinterpret_cast<const char*>(&header), sizeof header);
        Frame frame;
        EXPECT_EQ(reader.next(frame), FrameReader::Status::Broken) << header.length << " " << header.kind;
    }
}

TEST(Framing, LengthsAreCheckedBeforeTheyBecomeAHeaderField)
{
    constexpr std::size_t kU32 = std::numeric_limits<std::uint32_t>::max();
    const std::tuple<std::size_t, std::size_t, bool> cases[] = { // size, limit, fits
        { 0, kMaxPayload, true }, { kMaxPayload, kMaxPayload, true }, { kMaxPayload + 1ull, kMaxPayload, false },
        { kU32, kMaxPayload, false }, { kU32 + 1, kMaxPayload, false }, // would wrap to 0 if cast unchecked
        { std::numeric_limits<std::size_t>::max(), kMaxPayload, false },
        { kU32 + 1, std::numeric_limits<std::size_t>::max(), false }, // no limit lifts the ceiling
        { 1024, 1024, true }, { 1025, 1024, false } };
    for (const auto& [size, limit, fits] : cases) {
        auto length = frameLength(size, limit);
        ASSERT_EQ(length.has_value(), fits) << size << " under " << limit;
        if (length) {
            EXPECT_EQ(*length, size);
        }
    }
    std::string out = "kept";
    auto refused = appendFrame(out, FrameKind::Console, 1, 1, std::string(1025, 'x'), 1024);
    ASSERT_FALSE(refused);
    EXPECT_EQ(out, "kept");
    EXPECT_NE(refused.error().message.find("limit of 1024 bytes"), std::string::npos) << refused.error().message;
}

template<typename Message>
bool decodes(std::string_view payload) { return static_cast<bool>(decode<Message>(payload)); }

bool decodesAs(FrameKind kind, std::string_view payload)
{
    switch (kind) {
    case FrameKind::Hello: return decodes<Hello>(payload);
    case FrameKind::NewContext: return decodes<NewContext>(payload);
    case FrameKind::ContextSetup: return decodes<ContextSetup>(payload);
    case FrameKind::Exec: return decodes<ExecCall>(payload);
    case FrameKind::ExecTooLarge: return decodes<ExecTooLarge>(payload);
    case FrameKind::Console: return decodes<ConsoleCall>(payload);
    case FrameKind::EngineConsole: return decodes<EngineConsole>(payload);
    case FrameKind::FrameGone: return decodes<FrameGone>(payload);
    case FrameKind::NativeCallback: return decodes<NativeCallback>(payload);
    default: ADD_FAILURE() << "no payload for kind " << static_cast<int>(kind); return false;
    }
}

TEST(Messages, WhatTheEncodersWriteTheDecodersRead)
{
    const std::pair<FrameKind, std::string> cases[] = {
        { FrameKind::Hello, encode(Hello { kVersion, "t0k3n", 42 }) },
        { FrameKind::NewContext, encode(NewContext { 18446744073709551615ull, true, "file:///a b\xff.html" }) },
        { FrameKind::ContextSetup, encode(ContextSetup { true, false, { "a();", "b();" }, "c();" }) },
        { FrameKind::Exec, encode(ExecCall { "cb1", "Svc", "act", penwick::Value::array({ 1, "two" }) }) },
        { FrameKind::ExecTooLarge, encode(ExecTooLarge { 5, "Svc", nullptr, 300000000 }) },
        { FrameKind::Console, encode(ConsoleCall { 5, penwick::Value("boom") }) },
        { FrameKind::EngineConsole, encode(EngineConsole { "file:///x.js", 12, "ReferenceError" }) },
        { FrameKind::FrameGone, encode(FrameGone { 77 }) },
        { FrameKind::NativeCallback, encode(NativeCallback { "cb", 1, false, penwick::Value::binary({ 1, 2 }) }) },
    };
    for (const auto& [kind, payload] : cases)
        EXPECT_TRUE(decodesAs(kind, payload)) << frameKindName(kind) << ": " << payload;
    auto setup = decode<ContextSetup>(cases[2].second);
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->load, "c();");
}

TEST(Messages, PayloadsOfTheWrongShapeAreRefusedNotThrown)
{
    const std::pair<FrameKind, const char*> cases[] = {
        { FrameKind::Hello, "" },
        { FrameKind::Hello, "[2,\"t\",1]" },
        { FrameKind::Hello, R"({"version":2,"token":5,"pid":1})" }, // a numeric token once ended the host
        { FrameKind::Hello, R"({"version":"2","token":"t","pid":1})" },
        { FrameKind::Hello, R"({"token":"t","pid":1})" },
        { FrameKind::NewContext, R"({"frame":-1,"main":true,"url":""})" },
        { FrameKind::NewContext, R"({"frame":1,"main":1,"url":""})" },
        { FrameKind::NewContext, R"({"frame":1,"main":true,"url":null})" },
        { FrameKind::ContextSetup, R"({"bridge":true,"console":true,"setup":"a();","load":null})" },
        { FrameKind::ContextSetup, R"({"bridge":true,"console":true,"setup":[1],"load":null})" },
        { FrameKind::ContextSetup, R"({"bridge":true,"console":true,"setup":[],"load":5})" },
        { FrameKind::Exec, "null" },
        { FrameKind::Exec, R"(["cb","Svc","act"])" },
        { FrameKind::Exec, R"(["cb","Svc","act",[],5])" },
        { FrameKind::ExecTooLarge, R"({"callbackId":"cb","service":"S","action":"a","size":"big"})" },
        { FrameKind::Console, "[]" },
        { FrameKind::Console, R"(["shout","x"])" },
        { FrameKind::Console, R"(["log","x","y"])" },
        { FrameKind::EngineConsole, R"({"source":"s","line":"12","message":"m"})" },
        { FrameKind::FrameGone, R"({"frame":"1"})" },
    };
    for (const auto& [kind, payload] : cases)
        EXPECT_FALSE(decodesAs(kind, payload)) << frameKindName(kind) << ": " << payload;
    auto refused = decode<Hello>(R"({"version":2,"token":5,"pid":1})");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("Hello"), std::string::npos) << refused.error().message;
}

// A NativeCallback payload from its parts: the head's length, the head, the bytes.
std::string callbackPayload(const std::string& head, const std::string& bytes)
{
    auto length = static_cast<std::uint32_t>(head.size());
    return std::string(reinterpret_cast<const char*>(&length), sizeof length) + head + bytes;
}

TEST(Messages, NativeCallbacksCarryEveryByteInItsPlace)
{
    penwick::Bytes all(256);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(i);
    const penwick::Value messages[] = {
        penwick::Value::binary(all),
        penwick::Value::binary({}),
        { { "WHType", "MultiPart" },
            { "messages", { "a", penwick::Value::binary(all), { { "k/~", penwick::Value::binary({ 7 }) } }, nullptr } } },
    };
    for (const auto& message : messages) {
        auto call = decode<NativeCallback>(encode(NativeCallback { "cb'1", 9, true, message }));
        ASSERT_TRUE(call) << call.error().message;
        EXPECT_EQ(call->message, message);
        EXPECT_EQ(std::tie(call->callbackId, call->status, call->keepCallback), std::make_tuple(std::string("cb'1"), 9, true));
    }
}

TEST(Messages, NativeCallbacksOfTheWrongShapeAreRefused)
{
    const std::string head = R"({"callbackId":"c","status":1,"keep":false,"message":{"m":[null,1]},)";
    const std::pair<std::string, std::string> cases[] = { // head (or a whole payload when no bytes), bytes
        { "", "" },
        { "{}", "" },
        { "not json", "" },
        { head + R"("buffers":[{"at":"/m/0","size":3}]})", "ab" }, // fewer bytes than said
        { head + R"("buffers":[{"at":"/m/0","size":1}]})", "ab" }, // bytes left over
        { head + R"("buffers":[{"at":"/m/1","size":1}]})", "a" }, // place taken by a value
        { head + R"("buffers":[{"at":"/m/2","size":1}]})", "a" }, // no such place
        { head + R"("buffers":[{"at":"m/0","size":1}]})", "a" }, // not a pointer
        { head + R"("buffers":[{"at":"/m/0","size":1},{"at":"/m/0","size":1}]})", "ab" }, // one place twice
        { head + R"("buffers":{}})", "" },
        { R"({"callbackId":"c","status":4294967297,"keep":false,"message":null,"buffers":[]})", "" },
    };
    for (const auto& [text, bytes] : cases)
        EXPECT_FALSE(decodes<NativeCallback>(callbackPayload(text, bytes))) << text;
    EXPECT_FALSE(decodes<NativeCallback>("ab")) << "shorter than the head's length";
    std::string runsPast = callbackPayload("{}", "");
    runsPast[0] = 9;
    EXPECT_FALSE(decodes<NativeCallback>(runsPast));
}

} // namespace
