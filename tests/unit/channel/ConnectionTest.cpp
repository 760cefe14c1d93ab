// The host's end of the channel on a real socket pair: it never blocks, an oversized frame fails
// alone, and a peer that does not introduce itself promptly and briefly is closed.
#include <chrono>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "channel/ChannelConnection.h"

using namespace penwick::channel;

namespace {

enum class Peer { Introduced, Stranger };

struct Pair {
    explicit Pair(Peer who = Peer::Introduced, unsigned introductionTimeoutMs = kIntroductionTimeoutMs)
    {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        peer = fds[1];
        host = std::make_shared<ChannelConnection>(fds[0],
            [this](ChannelConnection& c, Frame& f) {
                if (f.kind == FrameKind::Hello)
                    c.setIntroduced(7);
                received.push_back(f);
            },
            [this](ChannelConnection&, const std::string& why) { closed = why; });
        if (who == Peer::Introduced)
            host->setIntroduced(7);
        host->start(introductionTimeoutMs);
    }
    ~Pair() { ::close(peer); }
    std::vector<Frame> drainPeer()
    {
        char buffer[65536];
        for (ssize_t n; (n = read(peer, buffer, sizeof buffer)) > 0;)
            reader.feed(buffer, static_cast<size_t>(n));
        std::vector<Frame> frames;
        for (Frame f; reader.next(f) == FrameReader::Status::Frame;)
            frames.push_back(f);
        return frames;
    }
    int peer = -1;
    std::shared_ptr<ChannelConnection> host;
    std::vector<Frame> received;
    std::string closed = "open";
    FrameReader reader;
};

TEST(Connection, APeerThatStopsReadingNeverBlocksTheHost)
{
    Pair pair;
    // 25 MiB to a peer that reads nothing: a blocking send would hang here for good.
    for (int i = 0; i < 400; ++i)
        ASSERT_TRUE(pair.host->send(FrameKind::Evaluate, 1, 0, std::string(64 * 1024, char('a' + i % 26))));
    EXPECT_GT(pair.host->queuedBytes(), 0u);
    std::vector<Frame> frames;
    while (frames.size() < 400 && pair.host->isOpen()) {
        g_main_context_iteration(nullptr, FALSE);
        for (auto& f : pair.drainPeer())
            frames.push_back(std::move(f));
    }
    ASSERT_EQ(frames.size(), 400u);
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(frames[i].payload, std::string(64 * 1024, char('a' + i % 26))) << i;
    EXPECT_EQ(pair.host->queuedBytes(), 0u);
}

TEST(Connection, OversizedFramesFailAloneAndScriptsTravelInPieces)
{
    Pair pair;
    pair.host->setMaxPayload(1024);
    EXPECT_FALSE(pair.host->send(FrameKind::ContextSetup, 1, 1, std::string(1025, '{')));
    EXPECT_TRUE(pair.host->isOpen());
    ASSERT_TRUE(pair.host->send(FrameKind::ExecDone, 1, 1, {}));
    std::string script(2500, 's');
    script.back() = 'e';
    pair.host->sendScript(1, script);
    auto frames = pair.drainPeer();
    ASSERT_EQ(frames.size(), 4u);
    const FrameKind kinds[] = { FrameKind::ExecDone, FrameKind::EvaluatePiece, FrameKind::EvaluatePiece, FrameKind::Evaluate };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(frames[i].kind, kinds[i]) << i;
    EXPECT_EQ(frames[1].payload + frames[2].payload + frames[3].payload, script);
}

TEST(Connection, AFrameInPiecesArrivesOnceAndABrokenHeaderCloses)
{
    Pair pair;
    std::string bytes;
    ASSERT_TRUE(appendFrame(bytes, FrameKind::Console, 3, 4, R"(["log","hi"])"));
    for (char c : bytes) {
        ASSERT_EQ(write(pair.peer, &c, 1), 1);
        while (g_main_context_iteration(nullptr, FALSE)) { }
    }
    ASSERT_EQ(pair.received.size(), 1u);
    EXPECT_EQ(pair.received[0].payload, R"(["log","hi"])");
    const std::uint32_t broken[6] = { 0xffffffffu, 4, 0, 0, 0, 0 };
    ASSERT_EQ(write(pair.peer, broken, sizeof broken), ssize_t(sizeof broken));
    for (int i = 0; i < 100 && pair.host->isOpen(); ++i)
        g_main_context_iteration(nullptr, FALSE);
    EXPECT_FALSE(pair.host->isOpen());
    EXPECT_EQ(pair.closed, "the web process sent a frame the host does not understand");
}

TEST(Connection, AStrangerMustIntroduceItselfBrieflyAndInTime)
{
    auto frame = [](FrameKind kind, std::size_t size) {
        std::string bytes;
        EXPECT_TRUE(appendFrame(bytes, kind, 0, 0, std::string(size, 'h')));
        return bytes;
    };
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t frames;
        const char* closed;
    } cases[] = {
        { "silent", "", 0, "it did not introduce itself within 100 ms" },
        { "half a header", std::string(10, 'x'), 0, "it did not introduce itself within 100 ms" },
        { "a Hello one byte too large", frame(FrameKind::Hello, kMaxHelloPayload + 1), 0,
            "the web process sent a frame the host does not understand (a first frame carries at most 4096 bytes)" },
        // Once introduced, the peer's frames may be as large as any.
        { "the largest Hello, then a large frame", frame(FrameKind::Hello, kMaxHelloPayload) + frame(FrameKind::Exec, 200000), 2,
            "open" },
    };
    for (auto& c : cases) {
        Pair pair(Peer::Stranger, 100);
        // The large frame does not fit the socket's buffer at once: feed it as the host reads.
        std::string_view rest = c.bytes;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
        while (std::chrono::steady_clock::now() < deadline && pair.host->isOpen()) {
            if (!rest.empty()) {
                ssize_t n = write(pair.peer, rest.data(), rest.size());
                rest.remove_prefix(n > 0 ? static_cast<std::size_t>(n) : 0);
            }
            g_main_context_iteration(nullptr, FALSE);
        }
        EXPECT_EQ(pair.received.size(), c.frames) << c.name;
        EXPECT_EQ(pair.closed, c.closed) << c.name;
        EXPECT_EQ(pair.host->introduced(), c.frames > 0) << c.name;
    }
}

} // namespace
