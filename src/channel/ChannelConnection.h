#pragma once

#include <cstdint>
#include <deque>
#include <glib.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "channel/ChannelProtocol.h"
#include "channel/HostEndpoint.h"
#include "channel/PageEndpoint.h"

namespace penwick::channel {

// Until a peer has introduced itself it is a stranger: its first frame may carry at most this many
// payload bytes (a Hello is far smaller) ...
inline constexpr std::size_t kMaxHelloPayload = 4096;
// ... and it must have introduced itself within this time, or it is closed.
inline constexpr unsigned kIntroductionTimeoutMs = 1000;
// How long a new context of a page waits for its process's claim (which the engine carries apart
// from this channel, so it may come later) before it is refused.
inline constexpr unsigned kPageClaimWaitMs = 10000;

// The host's end of one web process's channel (GLib only, so it is tested without a web process).
// It is served from the main loop and never blocks: reads take what the socket has, writes that
// the socket cannot take yet are queued and finished when it can. The answer to a page call and
// what its action sent leave in one write; a page call that has arrived by the time the last one is
// answered, or, while calls come in a row, within a few tens of microseconds, is handled at once (for
// a couple of milliseconds in a row at most).
//
// Large answers leave in pieces (see ChannelProtocol.h), one answer after another, with the other
// frames sent between two pieces; a turn of the main loop writes a few pieces at most.
//
// Every frame is decoded here and its message handed to the page it names (a PageEndpoint), or to
// the host (HostEndpoint) for the introduction. NewContext, Exec and ExecTooLarge are always
// answered, also when the payload is unreadable or no page matches: the web process waits for it.
// A connection speaks only for the pages its process hosts (PageEndpoint::hostedBy()): frames about
// another page are dropped, and a new context of one waits for the page's claim, or is refused.
class ChannelConnection : public std::enable_shared_from_this<ChannelConnection> {
public:
    // Takes over `fd` (a connected, non-blocking stream socket). `host` and `pages` outlive it.
    ChannelConnection(int fd, HostEndpoint& host, const PageEndpoints& pages);
    ~ChannelConnection();
    ChannelConnection(const ChannelConnection&) = delete;
    ChannelConnection& operator=(const ChannelConnection&) = delete;

    // Starts serving the socket from the main loop; the introduction's deadline runs from here.
    void start(unsigned introductionTimeoutMs = kIntroductionTimeoutMs);
    // Queues one frame. Refused (nothing sent, the connection stays open) when the payload exceeds
    // the limit.
    [[nodiscard]] Result<void> send(FrameKind kind, std::uint64_t page, std::uint64_t context, std::string_view payload);
    // Queues a script to run in a page: one Evaluate frame, or EvaluatePiece frames ended by an
    // Evaluate frame when it is larger than the limit. With a `context`, it runs only in that
    // script context's document.
    void sendScript(std::uint64_t page, std::string_view script, std::uint64_t context = 0);
    // Queues one frame whose payload was written elsewhere (a large answer, away from the main
    // loop): it is sent from where it is, not copied, and `hold` is let go once it has left (or the
    // connection has closed). An answer larger than a piece leaves in pieces.
    [[nodiscard]] Result<void> sendShared(FrameKind kind, std::uint64_t page, std::uint64_t context,
        SharedPayload payload, std::shared_ptr<const void> hold);
    void setMaxPayload(std::size_t limit) { m_maxPayload = limit; }
    std::size_t maxPayload() const { return m_maxPayload; }
    // Bytes queued that the socket has not taken yet.
    std::size_t queuedBytes() const;
    // Closes the socket; the close handler runs (once) with `why`.
    void close(const std::string& why);
    bool isOpen() const { return m_fd >= 0; }

    // Set once the peer has introduced itself.
    bool introduced() const { return m_introduced; }
    // `credential`: the token the peer introduced itself with, its process's.
    void setIntroduced(long pid, std::string credential = {});
    long pid() const { return m_pid; }
    const std::string& credential() const { return m_credential; }
    // A page has been claimed by its process: a new context that waits for that is answered now.
    void pageClaimed();
    void setPageClaimWait(unsigned ms) { m_pageClaimWaitMs = ms; }

private:
    static gboolean onReadable(gint fd, GIOCondition condition, gpointer data);
    static gboolean onWritable(gint fd, GIOCondition condition, gpointer data);
    static gboolean onFlushDue(gpointer data);
    static gboolean onIntroductionTimeout(gpointer data);
    static gboolean onPageClaimTimeout(gpointer data);
    void watchSocket();
    // Reads what the socket has; false when the peer is gone.
    bool readAvailable();
    // The reader holds as much as the largest frame: the socket is read no further for now.
    bool holdsEnough() const;
    // Decodes one frame and hands its message on.
    void dispatch(Frame& frame);
    void introduce(const Frame& frame);
    // Answers a NewContext: the page's set-up for it, or nothing when no page of this process's.
    void answerNewContext(const Frame& frame, PageEndpoint* page);
    PageEndpoint* pageFor(std::uint64_t page) const;
    void flush();
    // Sends what was queued as the frames' handling allows (see send()).
    void flushSoon();
    // The piece that frames written here are appended to.
    std::string& writablePiece();
    // Whether a frame must keep its place behind the large answers still to send: scripts, and
    // answers to a callback one of them answers too.
    bool waitsForLargeAnswers(FrameKind kind, std::string_view payload) const;
    // Moves the next piece of the first large answer (or the frames that wait behind it) to the
    // socket's queue; false when there is none.
    bool queueNextPiece();
    // Queues `count` bytes of `payload` from `from` as they are, `hold` with the last of them.
    void queueParts(const SharedPayload& payload, std::size_t from, std::size_t count, std::shared_ptr<const void> hold);

    int m_fd = -1;
    unsigned m_readWatch = 0;
    unsigned m_writeWatch = 0;
    unsigned m_flushSource = 0;
    unsigned m_introductionTimer = 0;
    unsigned m_introductionTimeoutMs = 0;
    FrameReader m_reader;
    // What waits for the socket, in order: frames written here, and payloads written elsewhere.
    struct Outgoing {
        std::string bytes;
        // Memory written elsewhere, and the part of it to send.
        std::shared_ptr<const void> shared;
        std::shared_ptr<const void> hold;
        std::string_view part {};
        // Memory this large is let go off the main loop once its last part has left.
        bool large = false;
        std::string_view view() const { return shared ? part : std::string_view(bytes); }
    };
    std::deque<Outgoing> m_out;
    // Large answers still to send in pieces, in order, and the frames that keep their place behind
    // them (`payload` empty).
    struct LargeAnswer {
        FrameKind kind {};
        std::uint64_t page = 0;
        std::uint64_t context = 0;
        SharedPayload payload;
        std::size_t size = 0;
        std::shared_ptr<const void> hold;
        std::string callbackId;
        std::size_t sent = 0;
        bool isAnswer() const { return size != 0; }
        std::string waiting;
    };
    std::deque<LargeAnswer> m_large;
    // Bytes of the first piece already sent.
    size_t m_outOffset = 0;
    HostEndpoint& m_host;
    const PageEndpoints& m_pages;
    // Cleared while the connection is being destroyed: the host hears only of closes before.
    bool m_reportClose = true;
    bool m_introduced = false;
    bool m_dispatching = false;
    // The main loop depth of the dispatch that handles frames; a nested loop is deeper.
    int m_dispatchDepth = 0;
    bool m_peerGone = false;
    // A nested main loop stopped watching the socket; the outer dispatch watches it again.
    bool m_readPaused = false;
    // When the host last answered a call and found no next one, and whether calls come in a row.
    gint64 m_answeredAt = 0;
    bool m_callsInARow = false;
    long m_pid = 0;
    std::string m_credential;
    // A NewContext of a page this process has not claimed (yet), and the time it may wait.
    std::optional<Frame> m_waitingContext;
    unsigned m_pageClaimTimer = 0;
    unsigned m_pageClaimWaitMs = kPageClaimWaitMs;
    bool m_foreignPageLogged = false;
    std::size_t m_maxPayload = kMaxPayload;
};

} // namespace penwick::channel
