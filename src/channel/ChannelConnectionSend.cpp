// The sending half of a channel connection: frames queued in order, large answers in pieces
// between the other frames, and the writer that drains the queue as the socket takes it.

#include "channel/ChannelConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <glib-unix.h>
#include <memory>
#include <sys/socket.h>

#include "base/Format.h"
#include "channel/AnswerBuffer.h"
#include "channel/AnswerPieces.h"

namespace penwick::channel {
namespace {
// How long one turn of the main loop writes pieces of large answers before the other sources get
// their turn (the socket's own readiness brings the writer back).
constexpr gint64 kMaxPiecesMicros = 4000;
} // namespace

std::string& ChannelConnection::writablePiece()
{
    if (m_out.empty() || m_out.back().shared)
        m_out.emplace_back();
    return m_out.back().bytes;
}

bool ChannelConnection::waitsForLargeAnswers(FrameKind kind, std::string_view payload) const
{
    if (m_large.empty())
        return false;
    if (kind == FrameKind::Evaluate || kind == FrameKind::EvaluatePiece)
        return true;
    if (kind != FrameKind::NativeCallback && kind != FrameKind::CallbackAnswer)
        return false;
    auto callbackId = answerCallbackId(payload);
    return !callbackId
        || std::any_of(m_large.begin(), m_large.end(), [&](const LargeAnswer& large) { return large.isAnswer() && large.callbackId == *callbackId; });
}

Result<void> ChannelConnection::send(FrameKind kind, std::uint64_t page, std::uint64_t context, std::string_view payload)
{
    if (m_fd < 0)
        return Error { EPIPE, "the page channel is closed" };
    if (travelsInPieces(kind, payload.size(), m_maxPayload))
        return sendShared(kind, page, context, SharedPayload::of(std::make_shared<const std::string>(payload)), {});
    if (waitsForLargeAnswers(kind, payload)) {
        if (m_large.back().isAnswer())
            m_large.emplace_back();
        auto appended = appendFrame(m_large.back().waiting, kind, page, context, payload, m_maxPayload);
        if (appended)
            flushSoon();
        return appended;
    }
    auto& piece = writablePiece();
    auto appended = appendFrame(piece, kind, page, context, payload, m_maxPayload);
    if (!appended) {
        if (piece.empty())
            m_out.pop_back();
        return appended;
    }
    flushSoon();
    return {};
}

Result<void> ChannelConnection::sendShared(FrameKind kind, std::uint64_t page, std::uint64_t context,
    SharedPayload payload, std::shared_ptr<const void> hold)
{
    if (m_fd < 0)
        return Error { EPIPE, "the page channel is closed" };
    const std::size_t size = payload.size();
    auto length = frameLength(size, m_maxPayload);
    if (!length) {
        return Error { EFBIG, format("a %@ frame of %@ bytes exceeds the page channel's limit of %@ bytes", frameKindName(kind), size,
                                  std::min<std::size_t>(m_maxPayload, kMaxPayload)) };
    }
    // An answer's head is whole in its first piece.
    std::string_view head = payload.pieces.empty() ? std::string_view() : payload.pieces.front();
    if (travelsInPieces(kind, size, m_maxPayload)) {
        auto callbackId = answerCallbackId(head);
        m_large.push_back({ kind, page, context, std::move(payload), size, std::move(hold), callbackId.value_or(std::string()), 0, {} });
        flushSoon();
        return {};
    }
    if (waitsForLargeAnswers(kind, head)) {
        if (m_large.back().isAnswer())
            m_large.emplace_back();
        (void)appendFrame(m_large.back().waiting, kind, page, context, payload.joined(), m_maxPayload);
        flushSoon();
        return {};
    }
    FrameHeader header { *length, static_cast<std::uint32_t>(kind), page, context };
    writablePiece().append(reinterpret_cast<const char*>(&header), sizeof header);
    queueParts(payload, 0, size, std::move(hold));
    flushSoon();
    return {};
}

void ChannelConnection::queueParts(const SharedPayload& payload, std::size_t from, std::size_t count, std::shared_ptr<const void> hold)
{
    const bool large = payload.size() >= AnswerBuffer::kReleasedAsideBytes;
    std::size_t at = 0;
    for (auto piece : payload.pieces) {
        std::size_t begin = std::max(at, from), end = std::min(at + piece.size(), from + count);
        if (begin < end)
            m_out.push_back({ {}, payload.owner, nullptr, piece.substr(begin - at, end - begin), large });
        at += piece.size();
    }
    // The last part carries the hold: it is let go once the whole has left.
    if (!m_out.empty())
        m_out.back().hold = std::move(hold);
}

bool ChannelConnection::queueNextPiece()
{
    if (m_large.empty())
        return false;
    LargeAnswer& large = m_large.front();
    if (!large.isAnswer()) {
        writablePiece() += large.waiting;
        m_large.pop_front();
        return true;
    }
    std::size_t size = std::min(large.size - large.sent, answerPieceBytes(m_maxPayload));
    appendAnswerPieceHead(writablePiece(), large.kind, large.page, large.context, large.size, large.sent, size);
    bool last = large.sent + size == large.size;
    // The last piece carries the answer's hold: it is let go once the answer has left.
    queueParts(large.payload, large.sent, size, last ? std::move(large.hold) : nullptr);
    large.sent += size;
    if (last)
        m_large.pop_front();
    return true;
}

void ChannelConnection::flushSoon()
{
    if (m_writeWatch)
        return;
    // While this connection's frames are handled, what their handlers send leaves in one write
    // once they are (from a loop nested in a handler it leaves now); otherwise as soon as the main
    // loop is free, with whatever else is sent until then (a batch of answers leaves in one write).
    if (m_dispatching) {
        if (g_main_depth() != m_dispatchDepth)
            flush();
        return;
    }
    if (!m_flushSource) {
        GSource* source = g_idle_source_new();
        g_source_set_priority(source, G_PRIORITY_HIGH);
        g_source_set_callback(source, &ChannelConnection::onFlushDue, this, nullptr);
        m_flushSource = g_source_attach(source, nullptr);
        g_source_unref(source);
    }
}

std::size_t ChannelConnection::queuedBytes() const
{
    std::size_t bytes = 0;
    for (const auto& piece : m_out)
        bytes += piece.view().size();
    for (const auto& large : m_large)
        bytes += large.isAnswer() ? large.size - large.sent : large.waiting.size();
    return bytes - m_outOffset;
}

gboolean ChannelConnection::onFlushDue(gpointer data)
{
    auto* self = static_cast<ChannelConnection*>(data);
    auto keep = self->shared_from_this();
    self->m_flushSource = 0;
    if (!self->m_writeWatch)
        self->flush();
    return G_SOURCE_REMOVE;
}

void ChannelConnection::sendScript(std::uint64_t page, std::string_view script, std::uint64_t context)
{
    const std::size_t piece = std::max<std::size_t>(1, std::min<std::size_t>(m_maxPayload, kMaxPayload));
    while (script.size() > piece) {
        if (!send(FrameKind::EvaluatePiece, page, context, script.substr(0, piece)))
            return;
        script.remove_prefix(piece);
    }
    (void)send(FrameKind::Evaluate, page, context, script);
}

void ChannelConnection::flush()
{
    const gint64 started = m_large.empty() ? 0 : g_get_monotonic_time();
    for (;;) {
        if (m_out.empty()) {
            if (m_large.empty())
                break;
            if (started && g_get_monotonic_time() - started > kMaxPiecesMicros) {
                // Enough for this turn: the socket's readiness brings the writer back after the
                // main loop's other sources (a page call, input, the window's painting) have had
                // theirs, those below the usual priority too.
                if (!m_writeWatch) {
                    m_writeWatch = g_unix_fd_add_full(G_PRIORITY_DEFAULT_IDLE, m_fd,
                        static_cast<GIOCondition>(G_IO_OUT | G_IO_HUP | G_IO_ERR), &ChannelConnection::onWritable, this, nullptr);
                }
                return;
            }
            queueNextPiece();
            continue;
        }
        std::string_view piece = m_out.front().view();
        if (m_outOffset < piece.size()) {
            ssize_t n = ::send(m_fd, piece.data() + m_outOffset, piece.size() - m_outOffset, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                m_outOffset += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The web process is busy; finish when the socket can take more.
                if (!m_writeWatch) {
                    m_writeWatch = g_unix_fd_add(m_fd, static_cast<GIOCondition>(G_IO_OUT | G_IO_HUP | G_IO_ERR),
                        &ChannelConnection::onWritable, this);
                }
                return;
            }
            close(std::string("cannot write to the web process: ") + std::strerror(errno));
            return;
        }
        // Sent: what it held goes (an answer's share of a budget may let the next read start).
        auto sent = std::move(m_out.front());
        m_out.pop_front();
        m_outOffset = 0;
        // The payload goes first, then its hold: a read budget's share comes back once the memory has.
        if (sent.large && sent.shared.use_count() == 1)
            AnswerBuffer::releaseAside(std::move(sent.shared), std::move(sent.hold));
    }
    if (m_writeWatch) {
        g_source_remove(m_writeWatch);
        m_writeWatch = 0;
    }
}

gboolean ChannelConnection::onWritable(gint, GIOCondition, gpointer data)
{
    auto* self = static_cast<ChannelConnection*>(data);
    auto keep = self->shared_from_this();
    self->m_writeWatch = 0;
    // flush() makes a new watch if it still cannot finish; this one is done either way.
    self->flush();
    return G_SOURCE_REMOVE;
}

} // namespace penwick::channel
