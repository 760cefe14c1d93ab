// The page channel: frames survive being cut anywhere, no length is written or read past the limit,
// no payload of the wrong shape escapes its decoder; and the host's end on a real socket pair never
// blocks, fails an oversized frame alone, closes a peer that does not introduce itself promptly
// and briefly, hands each message decoded to its page and answers every frame the peer waits on.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <numeric>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

#include "channel/AnswerPieces.h"
#include "channel/BufferedPayload.h"
#include "channel/ChannelConnection.h"
#include "channel/ChannelProtocol.h"
#include "support/LogCapture.h"

using namespace penwick::channel;
using std::to_string;

namespace {

std::vector<Frame> readAll(FrameReader& reader)
{
    std::vector<Frame> frames;
    for (Frame frame; reader.next(frame) == FrameReader::Status::Frame;)
        frames.push_back(frame);
    return frames;
}

// A frame's bytes as a sender writes them.
std::string frameBytes(FrameKind kind, std::uint64_t page, std::uint64_t context, const std::string& payload)
{
    std::string bytes;
    EXPECT_TRUE(appendFrame(bytes, kind, page, context, payload));
    return bytes;
}

// Each frame as one line: kind, page/context and payload.
std::vector<std::string> shown(const std::vector<Frame>& frames)
{
    std::vector<std::string> lines;
    for (const auto& f : frames)
        lines.push_back(std::string(frameKindName(f.kind)) + " " + to_string(f.page) + "/" + to_string(f.context) + " " + f.payload);
    return lines;
}

TEST(Framing, FramesSplitAtEveryByteComeOutWholeAndInOrderAndHeadersNoSenderWritesBreakTheStreamAndNoneIsWritten)
{
    const std::vector<Frame> sent { { FrameKind::Exec, 7, 9, R"(["cb","Svc","act",[1]])" }, { FrameKind::ExecDone, 7, 9, "" },
        { FrameKind::Evaluate, 7, 0, std::string(3000, 'x') } };
    std::string stream;
    for (const auto& f : sent)
        ASSERT_TRUE(appendFrame(stream, f.kind, f.page, f.context, f.payload));
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        FrameReader reader;
        reader.feed(stream.data(), cut);
        auto frames = readAll(reader);
        reader.feed(stream.data() + cut, stream.size() - cut);
        for (auto& frame : readAll(reader))
            frames.push_back(frame);
        ASSERT_EQ(shown(frames), shown(sent)) << "cut at " << cut;
        EXPECT_TRUE(reader.empty());
    }

    // Headers no sender writes break the stream, and none is written.
    const FrameHeader headers[] = { { 0, 0, 1, 1 }, { 0, kLastFrameKind + 1, 1, 1 }, { kMaxPayload + 1, 4, 1, 1 }, { ~0u, 4, 1, 1 } };
    for (const auto& header : headers) {
        FrameReader reader;
        reader.feed(reinterpret_cast<const char*>(&header), sizeof header);
        Frame frame;
        EXPECT_EQ(reader.next(frame), FrameReader::Status::Broken) << header.length << " " << header.kind;
    }

    // Writing, a length is checked before it becomes a header field.
    constexpr std::size_t kU32 = std::numeric_limits<std::uint32_t>::max();
    // Size, limit, fits.
    const std::tuple<std::size_t, std::size_t, bool> cases[] = {
        { 0, kMaxPayload, true },
        { kMaxPayload, kMaxPayload, true },
        { kMaxPayload + 1ull, kMaxPayload, false },
        { kU32, kMaxPayload, false },
        { kU32 + 1, kMaxPayload, false }, // would wrap to 0 if cast unchecked
        { std::numeric_limits<std::size_t>::max(), kMaxPayload, false },
        { kU32 + 1, std::numeric_limits<std::size_t>::max(), false }, // no limit lifts the ceiling
        { 1024, 1024, true },
        { 1025, 1024, false },
    };
    for (const auto& [size, limit, fits] : cases) {
        auto length = frameLength(size, limit);
        ASSERT_EQ(length.has_value(), fits) << size << " under " << limit;
        EXPECT_EQ(length ? *length : size, size);
    }
    std::string out = "kept";
    auto refused = appendFrame(out, FrameKind::Console, 1, 1, std::string(1025, 'x'), 1024);
    ASSERT_FALSE(refused);
    EXPECT_EQ(out, "kept");
    EXPECT_NE(refused.error().message.find("limit of 1024 bytes"), std::string::npos) << refused.error().message;
}

// What a decoder makes of a payload: "" when it reads it and the message encodes to the same payload
// again, else what it found wrong (every refusal names the frame kind).
template <typename Message> std::string outcome(std::string_view payload)
{
    auto message = decode<Message>(payload);
    if (message)
        return encode(*message) == payload ? "" : "encodes otherwise";
    std::string prefix = std::string(frameKindName(Message::kKind)) + " payload has the wrong shape: ";
    const auto& text = message.error().message;
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : "unnamed: " + text;
}
using Decoder = std::string (*)(std::string_view);

std::string buffered(std::string_view head, const std::vector<std::string_view>& buffers = {})
{
    return BufferedPayload::join(head, buffers);
}

TEST(Messages, EveryMessageSurvivesItsRoundTripAndEachWrongShapeIsNamed)
{
    penwick::Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    using penwick::Value;
    const Value multiPart { { "WHType", "MultiPart" },
        { "messages", { "a", Value::binary(all), { { "k/~", Value::binary({ 7 }) } }, nullptr } } };
    // An Exec payload as the extension sends it: the page's text, the places, the buffers where they are.
    std::string lengths, fromPage;
    const std::string headEnd = execHeadEnd({ 0, 2 }); // the pieces are views: it outlives them
    for (auto piece : BufferedPayload::pieces({ R"(["cb","Svc","act",[null,2,null])", headEnd }, { "ab", "" }, lengths))
        fromPage += piece;
    const std::string call = R"(["cb","Svc","act",)", answer = R"({"callbackId":"cb","keepCallback":false,"status":)";
    std::string cutShort = buffered(call + R"([null],[0]])", { "abc" });
    cutShort.pop_back();
    const std::string head = R"({"callbackId":"c","keepCallback":false,"message":{"m":[null,1]},"status":1,)";
    // A field's type picks its decoder, so each kind of wrong field is shown once, in whichever message.
    // Decoder, payload, what is wrong.
    const std::tuple<Decoder, std::string, std::string> cases[] = {
        { outcome<Hello>, encode(Hello { kVersion, "t0k3n", 42 }), "" },
        { outcome<NewContext>, encode(NewContext { 18446744073709551615ull, true, "file:///a b\xff.html" }), "" },
        { outcome<NewContext>, encode(NewContext { 1, false, "about:srcdoc", "app://x/", true, 7 }), "" },
        { outcome<ContextSetup>, encode(ContextSetup { true, false, { "a();", "b();" }, "c();" }), "" },
        { outcome<ContextSetup>, encode(ContextSetup {}), "" },
        { outcome<ExecCall>, encode(ExecCall { "cb1", "Svc", "act", Value::array({ 1, "two" }) }), "" },
        { outcome<ExecCall>, fromPage, "" },
        { outcome<ExecTooLarge>, encode(ExecTooLarge { 5, "Svc", nullptr, 300000000 }), "" },
        { outcome<ConsoleCall>, encode(ConsoleCall { 5, Value("boom") }), "" },
        { outcome<ConsoleCall>, encode(ConsoleCall { 1, Value() }), "" }, // null is a value
        { outcome<ConsoleCall>, encode(ConsoleCall {}), "" },
        { outcome<EngineConsole>, encode(EngineConsole { "file:///x.js", 12, "ReferenceError", 3 }), "" },
        { outcome<FrameGone>, encode(FrameGone { 77 }), "" },
        { outcome<NativeCallback>, encode(NativeCallback { "cb'1", 9, true, Value::binary(all) }), "" },
        { outcome<NativeCallback>, encode(NativeCallback { "cb", -1, false, Value::binary({}) }), "" },
        { outcome<NativeCallback>, encode(NativeCallback { "cb", 1, false, multiPart }), "" },
        { outcome<CallbackAnswer>, encode(CallbackAnswer { "c'b", -3, true, "\n  {\"a\":[1]}\n" }), "" },
        { outcome<CallbackAnswer>, encodeCallbackAnswer("c'b", -3, true, std::make_shared<const std::string>("{\"a\":[1]}")).joined(), "" },
        { outcome<Hello>, "", "not JSON" },
        { outcome<Hello>, "[2,\"t\",1]", "not an object" },
        { outcome<Hello>, R"({"version":2,"token":5,"pid":1})", R"("token" is not a string)" }, // once ended the host
        { outcome<Hello>, R"({"version":"2","token":"t","pid":1})", R"("version" is not a count)" },
        { outcome<Hello>, R"({"version":4294967298,"token":"t","pid":1})", R"("version" is out of range)" },
        { outcome<Hello>, R"({"token":"t","pid":1})", R"(no "version")" },
        { outcome<NewContext>, R"({"frame":-1,"main":true,"url":""})", R"("frame" is not a count)" },
        { outcome<NewContext>, R"({"frame":1,"main":1,"url":""})", R"("main" is not a boolean)" },
        { outcome<NewContext>, R"({"frame":1,"main":true,"url":null})", R"("url" is not a string)" },
        { outcome<NewContext>, R"({"frame":1,"main":true,"url":"","parent":"2"})", R"("parent" is not a count)" },
        { outcome<ContextSetup>, R"({"bridge":true,"console":true,"setup":"a();"})", R"("setup" is not a list)" },
        { outcome<ContextSetup>, R"({"bridge":true,"console":true,"setup":[1]})", R"("setup" holds a non-string)" },
        { outcome<ContextSetup>, R"({"bridge":true,"console":true,"setup":[],"load":null})", R"("load" is not a string)" },
        { outcome<ExecCall>, R"(["cb","Svc","act",[]])", "the head runs past the payload" }, // no head length
        { outcome<ExecCall>, buffered("null"), "not a list of 4, or of 4 and the buffers' places" },
        { outcome<ExecCall>, buffered(R"(["cb","Svc","act"])"), "not a list of 4, or of 4 and the buffers' places" },
        { outcome<ExecCall>, buffered(call + R"([],5])"), "buffers without arguments to hold them" },
        { outcome<ExecCall>, buffered(call + R"([null],[]])"), "buffers without arguments to hold them" },
        { outcome<ExecCall>, buffered(call + R"({"0":null},[0]])", { "a" }), "buffers without arguments to hold them" },
        { outcome<ExecCall>, buffered(call + R"([null],[0]])"), "0 buffers for 1 places" },
        { outcome<ExecCall>, buffered(call + R"([1],[0]])", { "a" }), "a buffer's place is not a null argument" },
        { outcome<ExecCall>, buffered(call + R"([null],[1]])", { "a" }), "a buffer's place is not a later argument" },
        { outcome<ExecCall>, buffered(call + R"([null,null],[1,0]])", { "a", "b" }), "a buffer's place is not a later argument" },
        { outcome<ExecCall>, cutShort, "a buffer runs past the payload" },
        { outcome<ExecCall>, buffered(call + R"([]])") + "x", "a buffer runs past the payload" },
        { outcome<ConsoleCall>, R"({"level":6})", R"("level" names no console level)" },
        { outcome<EngineConsole>, R"({"source":"s","line":"12","message":"m","level":0})", R"("line" is not an integer)" },
        { outcome<CallbackAnswer>, encode(CallbackAnswer { "cb", 1, false, "" }), "no message" },
        { outcome<CallbackAnswer>, buffered(answer + R"("1"})", { "1" }), R"("status" is not an integer)" },
        { outcome<CallbackAnswer>, buffered(answer + "2147483648}", { "1" }), R"("status" is out of range)" },
        { outcome<NativeCallback>, buffered("{}"), R"(no "callbackId")" },
        { outcome<NativeCallback>, buffered("not json"), "the head is not JSON" },
        { outcome<NativeCallback>, buffered(head + R"("buffers":["/m/0"]})"), "0 buffers for 1 places" },
        { outcome<NativeCallback>, buffered(head + R"("buffers":["/m/1"]})", { "a" }), "a buffer's place is not a null of the message" },
        { outcome<NativeCallback>, buffered(head + R"("buffers":["/m/2"]})", { "a" }), "a buffer's place is not a null of the message" },
        { outcome<NativeCallback>, buffered(head + R"("buffers":["m/0"]})", { "a" }), "a buffer's place is not a JSON pointer" },
        { outcome<NativeCallback>, buffered(head + R"("buffers":["/m/0","/m/0"]})", { "a", "b" }),
            "a buffer's place is not a null of the message" },
        { outcome<NativeCallback>, buffered(head + R"("buffers":{}})"), R"("buffers" is not a list)" },
    };
    for (const auto& [decoder, payload, wrong] : cases)
        EXPECT_EQ(decoder(payload), wrong) << payload;
    // The page's buffers come to the host as binary values in their places.
    EXPECT_EQ(decode<ExecCall>(fromPage)->arguments, Value::array({ Value::binary({ 'a', 'b' }), 2, Value::binary({}) }));
    EXPECT_EQ(decode<NativeCallback>(encode(NativeCallback { "cb", 1, false, multiPart }))->message, multiPart);
    EXPECT_EQ(answerCallbackId(std::get<1>(cases[16])), "c'b");
}

// The host and its one page (id 3) as a connection serves them: what reached them, in order.
struct Recorder final : HostEndpoint, PageEndpoint {
    void introduce(ChannelConnection& connection, const Hello&) override
    {
        events.push_back("hello");
        connection.setIntroduced(7);
    }
    std::uint64_t newContextId() override { return 40; }
    void connectionClosed(ChannelConnection&, const std::string& why) override { closed = why; }
    std::uint64_t pageId() const override { return 3; }
    bool hostedBy(const std::string& credential) const override { return credential == host; }
    ContextSetup didCreateScriptContext(std::shared_ptr<ChannelConnection>, std::uint64_t contextId, const NewContext& notice) override
    {
        events.push_back("context " + to_string(contextId) + " " + notice.url);
        return ContextSetup { true, true, {}, std::nullopt };
    }
    void execInContext(const ChannelConnection&, std::uint64_t contextId, ExecCall&& call) override
    {
        events.push_back("exec " + to_string(contextId) + " " + call.action.dump() + call.arguments.dump());
        if (duringExec)
            duringExec();
    }
    void execTooLarge(const ChannelConnection&, std::uint64_t contextId, const ExecTooLarge& call, std::size_t limit) override
    {
        events.push_back("too large " + to_string(contextId) + " " + to_string(call.size) + ">" + to_string(limit));
    }
    void consoleInContext(const ChannelConnection&, std::uint64_t contextId, ConsoleCall&& call) override
    {
        events.push_back("console " + to_string(contextId) + " " + kConsoleLevels[call.level] + " " + call.value.value_or("-").dump());
    }
    void engineConsoleMessage(const EngineConsole& message) override { events.push_back("engine " + message.message); }
    void frameGone(std::uint64_t frame) override { events.push_back("gone " + to_string(frame)); }
    bool connectionClosed(const ChannelConnection&) override { return false; }

    std::vector<std::string> events;
    std::string closed = "open";
    // The token of the process that claimed the page.
    std::string host;
    // What the action does (a modal dialog runs a nested main loop).
    std::function<void()> duringExec;
};

// One AnswerPiece frame as a sender would write it (or a broken one).
Frame piece(FrameKind kind, std::uint64_t context, std::uint64_t total, std::uint64_t offset, std::string_view bytes)
{
    AnswerPieceHead head { static_cast<std::uint32_t>(kind), 0, total, offset };
    return Frame { FrameKind::AnswerPiece, 1, context,
        std::string(reinterpret_cast<const char*>(&head), sizeof head) + std::string(bytes) };
}

TEST(Pieces, ALargeAnswerIsPutTogetherOnlyFromItsOwnPiecesInOrderAndWithinTheLimit)
{
    constexpr auto NC = FrameKind::NativeCallback, CA = FrameKind::CallbackAnswer;
    // Pieces, what comes of them.
    const std::pair<std::vector<Frame>, std::string> cases[] = {
        { { piece(CA, 2, 6, 0, "abc"), piece(CA, 2, 6, 3, "def") }, "CallbackAnswer 2 abcdef" },
        { { piece(NC, 2, 6, 0, "abcdef") }, "NativeCallback 2 abcdef" },
        { { piece(CA, 2, 6, 3, "def") }, "starts at 3" },
        { { piece(CA, 2, 6, 0, "abc"), piece(CA, 2, 6, 4, "ef") }, "does not follow" }, // a gap
        { { piece(CA, 2, 6, 0, "abc"), piece(CA, 2, 6, 0, "abc") }, "does not follow" }, // again
        { { piece(CA, 2, 6, 0, "abc"), piece(NC, 2, 6, 3, "def") }, "does not follow" }, // another kind
        { { piece(CA, 2, 6, 0, "abc"), piece(CA, 3, 6, 3, "def") }, "does not follow" }, // another document
        { { piece(CA, 2, 6, 0, "abc"), piece(CA, 2, 7, 3, "def") }, "does not follow" }, // another size
        { { piece(CA, 2, 6, 0, "abcdefg") }, "carries 7 bytes" },
        { { piece(CA, 2, 6, 0, "") }, "carries 0 bytes" },
        { { piece(FrameKind::Evaluate, 2, 6, 0, "abcdef") }, "not an answer" },
        { { piece(CA, 2, 1u << 20, 0, "abc") }, "more than the limit" },
        { { Frame { FrameKind::AnswerPiece, 1, 2, "short" } }, "too short" },
    };
    // Every buffer taken is given back exactly once, whether its answer is refused or whole.
    static int s_buffers = 0;
    const AnswerBuffer::Memory counted { [](std::size_t size) { return ++s_buffers, std::malloc(size); },
        [](void* data) { --s_buffers, std::free(data); } };
    for (const auto& [pieces, outcome] : cases) {
        AnswerAssembler assembler;
        assembler.setMaxPayload(1024);
        assembler.setMemory(counted);
        std::string got = "partial";
        // Each row's refusal comes at its last piece.
        for (const auto& p : pieces) {
            AssembledAnswer answer;
            if (auto taken = assembler.take(p, answer); !taken)
                got = taken.error().message;
            else if (*taken == AnswerAssembler::Status::Complete)
                got = std::string(frameKindName(answer.kind)) + " " + to_string(answer.context) + " " + std::string(answer.payload());
        }
        EXPECT_NE(got.find(outcome), std::string::npos) << got << " / " << outcome;
        EXPECT_EQ(std::pair(assembler.idle(), s_buffers), std::pair(true, 0)) << "idle, buffers taken: " << got;
    }
}

// The host's end of a real socket pair, and what its peer reads.
enum class Peer { Introduced, Stranger };

struct Pair {
    explicit Pair(Peer who = Peer::Introduced, unsigned introductionTimeoutMs = kIntroductionTimeoutMs)
    {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        peer = fds[1];
        host = std::make_shared<ChannelConnection>(fds[0], recorder, pages);
        if (who == Peer::Introduced)
            host->setIntroduced(7);
        host->start(introductionTimeoutMs);
    }
    ~Pair() { ::close(peer); }
    // Writes what the peer says and lets the host read it.
    void say(const std::string& bytes)
    {
        ASSERT_EQ(write(peer, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        while (g_main_context_iteration(nullptr, FALSE)) { }
    }
    // What the host has sent once its main loop was free, waiting (while it is open) for at least `count` frames.
    // As on the page, an answer in pieces takes its place whole when its last piece comes.
    std::vector<Frame> drainPeer(std::size_t count = 0)
    {
        std::vector<Frame> frames;
        do {
            while (g_main_context_iteration(nullptr, FALSE)) { }
            char buffer[65536];
            for (ssize_t n; (n = read(peer, buffer, sizeof buffer)) > 0;)
                reader.feed(buffer, static_cast<size_t>(n));
            for (auto& frame : readAll(reader)) {
                AssembledAnswer answer;
                if (frame.kind != FrameKind::AnswerPiece)
                    frames.push_back(std::move(frame));
                else if (auto taken = assembler.take(frame, answer); !taken)
                    ADD_FAILURE() << taken.error().message;
                else if (*taken == AnswerAssembler::Status::Complete)
                    frames.push_back(Frame { answer.kind, answer.page, answer.context, std::string(answer.payload()) });
            }
        } while (frames.size() < count && host->isOpen());
        return frames;
    }
    Recorder recorder;
    PageEndpoints pages { &recorder };
    int peer = -1;
    std::shared_ptr<ChannelConnection> host;
    FrameReader reader;
    AnswerAssembler assembler;
};

TEST(Connection, APeerThatStopsReadingNeverBlocksTheHostAnswersOvertakeALargeOneFramesGoInPiecesAndAPeerWritingOnCannotFillTheHost)
{
    Pair pair;
    // 25 MiB to a peer that reads nothing: a blocking send would hang here for good. Every tenth
    // payload was written elsewhere: sent from where it is, in order, its hold kept until sent.
    auto hold = std::make_shared<int>(0);
    std::weak_ptr<int> held = hold;
    for (int i = 0; i < 400; ++i) {
        auto payload = std::make_shared<const std::string>(64 * 1024, char('a' + i % 26));
        if (i % 10 == 0)
            ASSERT_TRUE(pair.host->sendShared(FrameKind::Evaluate, 1, 0, penwick::SharedPayload::of(payload), hold));
        else
            ASSERT_TRUE(pair.host->send(FrameKind::Evaluate, 1, 0, *payload));
    }
    hold.reset();
    EXPECT_FALSE(held.expired());
    EXPECT_GT(pair.host->queuedBytes(), 0u);
    const auto frames = pair.drainPeer(400);
    ASSERT_EQ(frames.size(), 400u);
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(frames[i].payload, std::string(64 * 1024, char('a' + i % 26))) << i;
    EXPECT_EQ(std::pair(pair.host->queuedBytes(), held.expired()), std::pair(std::size_t(0), true));

    // Small answers and calls overtake a large answer, while its callback's later answers and scripts wait.
    auto answer = [](const char* callbackId, std::string message) { return encode(CallbackAnswer { callbackId, 1, true, message }); };
    // The large answer's bytes leave from the message that holds them, its pieces cutting across
    // head, lengths and buffer; the page gets the payload as if written in one piece.
    penwick::Bytes bytes(3 * kAnswerPieceBytes + 5);
    std::iota(bytes.begin(), bytes.end(), 0);
    auto message = std::make_shared<const penwick::Value>(penwick::Value { { "data", penwick::Value::binary(std::move(bytes)) } });
    const std::string large = encodeNativeCallback("big", 1, true, *message);
    hold = std::make_shared<int>(0);
    held = hold;
    ASSERT_TRUE(pair.host->sendShared(FrameKind::NativeCallback, 1, 2, encodeNativeCallback("big", 1, true, message), std::move(hold)));
    ASSERT_TRUE(pair.host->send(FrameKind::CallbackAnswer, 1, 2, answer("big", "1")));
    pair.host->sendScript(1, "after();");
    ASSERT_TRUE(pair.host->send(FrameKind::CallbackAnswer, 1, 2, answer("small", "2")));
    ASSERT_TRUE(pair.host->send(FrameKind::ExecDone, 1, 2, {}));
    // What the page gets, in order.
    std::vector<std::string> got;
    for (const auto& frame : pair.drainPeer(5)) {
        auto callbackId = frame.kind == FrameKind::ExecDone ? "done" : answerCallbackId(frame.payload).value_or(frame.payload);
        got.push_back(callbackId + (frame.payload == large ? " whole" : ""));
    }
    EXPECT_EQ(got, (std::vector<std::string> { "small", "done", "big whole", "big", "after();" }));
    EXPECT_EQ(std::pair(pair.host->queuedBytes(), held.expired()), std::pair(std::size_t(0), true));

    // Frames go in pieces both ways, and an oversized frame fails alone.
    pair.host->setMaxPayload(1024);
    EXPECT_FALSE(pair.host->send(FrameKind::ContextSetup, 1, 1, std::string(1025, '{')));
    EXPECT_TRUE(pair.host->isOpen());
    ASSERT_TRUE(pair.host->send(FrameKind::ExecDone, 1, 1, {}));
    std::string script(2500, 's');
    script.back() = 'e';
    pair.host->sendScript(1, script);
    EXPECT_EQ(shown(pair.drainPeer()),
        (std::vector<std::string> { "ExecDone 1/1 ", "EvaluatePiece 1/0 " + script.substr(0, 1024),
            "EvaluatePiece 1/0 " + script.substr(1024, 1024), "Evaluate 1/0 " + script.substr(2048) }));

    // The other way, a frame written a byte at a time arrives once.
    for (char c : frameBytes(FrameKind::Console, 3, 4, encode(ConsoleCall { 0, penwick::Value("hi") })))
        pair.say(std::string(1, c));

    // A peer that writes on while a call's action runs a nested main loop (a modal dialog) is read no
    // further than a frame ahead, and read again once the action is done.
    const std::string ignored = frameBytes(FrameKind::EngineConsole, 9, 0, std::string(1000, ' '));
    std::string flood;
    while (flood.size() < 256 * 1024)
        flood += ignored;
    std::size_t written = 0;
    // Writes without blocking while the host's main loop turns, until the host takes nothing more.
    auto write = [&](std::string_view bytes, std::size_t upTo) {
        for (int stalled = 0; stalled < 1000 && written < upTo; ++stalled) {
            std::size_t at = written % bytes.size();
            if (ssize_t n = send(pair.peer, bytes.data() + at, bytes.size() - at, MSG_DONTWAIT); n > 0)
                written += static_cast<std::size_t>(n), stalled = 0;
            g_main_context_iteration(nullptr, FALSE);
        }
    };
    pair.recorder.duringExec = [&] { write(flood, 64u << 20); };
    pair.say(frameBytes(FrameKind::Exec, 3, 4, encode(ExecCall { "c", "S", "a", {} })));
    EXPECT_LT(written, 16u << 20);
    // The rest of the frame it was writing, and a console line the host reads once the action is done.
    std::string tail = ignored.substr(written % ignored.size())
        + frameBytes(FrameKind::Console, 3, 4, encode(ConsoleCall { 0, penwick::Value("after") }));
    written = 0;
    write(tail, tail.size());
    while (g_main_context_iteration(nullptr, FALSE)) { }
    EXPECT_EQ(
        pair.recorder.events, (std::vector<std::string> { R"(console 4 log "hi")", R"(exec 4 "a"null)", R"(console 4 log "after")" }));
    EXPECT_TRUE(pair.host->isOpen());
}

// A broken header closes the connection, before and after the peer introduced itself.
TEST(Connection, AStrangerMustIntroduceItselfBrieflyAndInTimeAndABrokenHeaderCloses)
{
    auto frame = [](FrameKind kind, const std::string& payload) { return frameBytes(kind, 3, 0, payload); };
    std::string largestHello = encode(Hello { kVersion, "", 1 });
    largestHello = encode(Hello { kVersion, std::string(kMaxHelloPayload - largestHello.size(), 't'), 1 });
    ASSERT_EQ(largestHello.size(), kMaxHelloPayload);
    const std::string brokenHeader = std::string("\xff\xff\xff\xff\x04") + std::string(19, '\0');
    // Name, what the peer writes, how many frames reach the host, why the connection closed.
    const std::tuple<const char*, std::string, std::size_t, const char*> cases[] = {
        { "silent", "", 0, "it did not introduce itself within 100 ms" },
        { "half a header", std::string(10, 'x'), 0, "it did not introduce itself within 100 ms" },
        { "a Hello one byte too large", frame(FrameKind::Hello, std::string(kMaxHelloPayload + 1, 'h')), 0,
            "the web process sent a frame the host does not understand (a first frame carries at most 4096 bytes)" },
        // Once introduced, the peer's frames may be as large as any.
        { "the largest Hello, then a large call",
            frame(FrameKind::Hello, largestHello)
                + frame(FrameKind::Exec, encode(ExecCall { "c", "S", "a", { std::string(200000, 'h') } })),
            2, "open" },
        { "the largest Hello, then a broken header", frame(FrameKind::Hello, largestHello) + brokenHeader, 1,
            "the web process sent a frame the host does not understand" },
        { "a first frame that is no Hello", frame(FrameKind::Exec, encode(ExecCall { "c", "S", "a", {} })), 0,
            "a process without the host's token tried the page channel" },
        { "an unreadable Hello", frame(FrameKind::Hello, "{}"), 0,
            "the web process sent a frame the host cannot read (Hello payload has the wrong shape: no \"version\")" },
    };
    for (const auto& [name, bytes, frames, closed] : cases) {
        Pair pair(Peer::Stranger, 100);
        // The large frame does not fit the socket's buffer at once: feed it as the host reads.
        std::string_view rest = bytes;
        // Until it is closed, or, introduced, has outlived the time it had to introduce itself; a
        // minute guards against a hang on a loaded machine.
        using namespace std::chrono;
        const auto start = steady_clock::now();
        auto settled = [&, frames = frames] {
            return !pair.host->isOpen() || (frames > 0 && pair.recorder.events.size() >= frames && steady_clock::now() - start > 400ms);
        };
        while (!settled() && steady_clock::now() - start < 1min) {
            if (ssize_t n = write(pair.peer, rest.data(), rest.size()); n > 0)
                rest.remove_prefix(static_cast<std::size_t>(n));
            g_main_context_iteration(nullptr, FALSE);
        }
        EXPECT_EQ(pair.recorder.events.size(), frames) << name;
        EXPECT_EQ(pair.recorder.closed, closed) << name;
        EXPECT_EQ(pair.host->introduced(), frames > 0) << name;
    }
}

// A connection speaks only for the pages its process claimed: a new context of another process's
// page waits for a claim (the engine carries claims apart from the channel) and is refused with a
// line when none comes; nothing else the connection says about that page reaches it.
enum class Claim { Held, Never, Meanwhile };

TEST(Connection, MessagesReachTheirPageDecodedOnlyIfItsProcessClaimedItAndEveryFrameThePeerWaitsOnIsAnswered)
{
    const std::string call = encode(ExecCall { "c1", "Svc", "act", { 1 } });
    const NewContext notice { 1, true, "app://x/" };
    // A context of no page, or unreadable, is answered without the bridge.
    const std::string bridged = "ContextSetup 3/40 " + encode(ContextSetup { true, true, {}, std::nullopt });
    const std::string bare = "/0 " + encode(ContextSetup {});
    const std::string refusedContext = "refused a script context of page 3 that web process 7 announced: that process does not host the "
                                       "page; the frame gets no bridge";
    // Name, whether the page is the process's, the frame, what reached the page, what the peer got back.
    using Lines = std::vector<std::string>;
    using enum Claim;
    const std::tuple<const char*, Claim, FrameKind, std::uint64_t, std::string, Lines, Lines> cases[] = {
        { "a call", Held, FrameKind::Exec, 3, call, { R"(exec 4 "act"[1])" }, { "ExecDone 3/4 " } },
        { "a call from no page the host shows", Held, FrameKind::Exec, 9, call, {}, { "ExecDone 9/4 " } },
        { "an unreadable call", Held, FrameKind::Exec, 3, "[]", {}, { "ExecDone 3/4 " } },
        { "a call too large", Held, FrameKind::ExecTooLarge, 3, encode(ExecTooLarge { "c1", "Svc", "act", 5000 }),
            { "too large 4 5000>1024" }, { "ExecDone 3/4 " } },
        { "an unreadable call too large", Held, FrameKind::ExecTooLarge, 3, "{}", {}, { "ExecDone 3/4 " } },
        { "a new context", Held, FrameKind::NewContext, 3, encode(notice), { "context 40 app://x/" }, { bridged } },
        { "a new context of no page the host shows", Held, FrameKind::NewContext, 9, encode(notice), {}, { "ContextSetup 9" + bare } },
        { "an unreadable new context", Held, FrameKind::NewContext, 3, "{", {}, { "ContextSetup 3" + bare } },
        { "a context never claimed", Never, FrameKind::NewContext, 3, encode(notice), {}, { "ContextSetup 3" + bare } },
        { "a context claimed meanwhile", Meanwhile, FrameKind::NewContext, 3, encode(notice), { "context 40 app://x/" }, { bridged } },
        { "console", Held, FrameKind::Console, 3, encode(ConsoleCall { 4, penwick::Value("w") }), { R"(console 4 warn "w")" }, {} },
        { "an unreadable console call", Held, FrameKind::Console, 3, R"({"level":9})", {}, {} },
        { "engine console", Held, FrameKind::EngineConsole, 3, encode(EngineConsole { "u", 2, "m" }), { "engine m" }, {} },
        { "a frame gone", Held, FrameKind::FrameGone, 3, encode(FrameGone { 8 }), { "gone 8" }, {} },
        { "a frame gone never claimed", Never, FrameKind::FrameGone, 3, encode(FrameGone { 8 }), {}, {} },
        { "a frame only the host sends", Held, FrameKind::Evaluate, 3, "x", {}, {} },
    };
    for (const auto& [name, claim, kind, page, payload, events, answers] : cases) {
        SCOPED_TRACE(name);
        penwick::test::LogCapture log;
        Pair pair;
        pair.host->setMaxPayload(1024);
        pair.host->setPageClaimWait(50);
        pair.recorder.host = claim == Held ? "" : "another process's token";
        // What the peer says of the page before the claim never reaches it, even once claimed.
        pair.say((claim == Meanwhile ? frameBytes(FrameKind::FrameGone, page, 0, encode(FrameGone { 1 })) : std::string())
            + frameBytes(kind, page, 4, payload));
        if (claim == Meanwhile) {
            pair.recorder.host = "";
            pair.host->pageClaimed();
        }
        EXPECT_EQ(shown(pair.drainPeer(answers.size())), answers);
        EXPECT_EQ(pair.recorder.events, events);
        EXPECT_EQ(log.count(refusedContext), claim == Never && kind == FrameKind::NewContext ? 1u : 0u);
        EXPECT_TRUE(pair.host->isOpen());
    }
}

} // namespace
