#include "webext/ExtensionChannel.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <glib-unix.h>
#include <glib.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include "base/Format.h"
#include "base/Log.h"
#include "channel/ChannelProtocol.h"

namespace penwick::webext {

using channel::Frame;
using channel::FrameKind;

ExtensionChannel::~ExtensionChannel() { close(nullptr); }

bool ExtensionChannel::open(const std::string& socketPath, const std::string& token, std::string& error)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        error = "socket path too long";
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    (void)post(FrameKind::Hello, 0, 0, channel::encode(channel::Hello { channel::kVersion, token, getpid() }));
    if (m_fd < 0) {
        error = "the host closed the channel";
        return false;
    }
    m_watch = g_unix_fd_add(m_fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
        +[](int, GIOCondition, gpointer data) -> gboolean {
            auto* self = static_cast<ExtensionChannel*>(data);
            if (!self->fill(Wait::No)) {
                self->m_watch = 0;
                // The host went away (it logs broken channels itself).
                self->close(nullptr);
                return G_SOURCE_REMOVE;
            }
            self->drain();
            self->yieldWhileStreaming();
            return G_SOURCE_CONTINUE;
        },
        this);
    return true;
}

void ExtensionChannel::yieldWhileStreaming()
{
    // A large answer keeps the socket readable from its first piece to its last; read at the
    // usual priority all along, it would keep the page's timers and painting from running until
    // it is all here (hundreds of ms for 200 MiB). Every few ms of it, the next piece waits until
    // the page has had its turn.
    constexpr gint64 kMaxStreamingMicros = 8000;
    constexpr int kYieldingPriority = G_PRIORITY_DEFAULT_IDLE;
    GSource* source = m_watch ? g_main_context_find_source_by_id(nullptr, m_watch) : nullptr;
    if (!source)
        return;
    int priority = G_PRIORITY_DEFAULT;
    if (m_assembler.idle()) {
        m_streamingSince = 0;
    } else if (const gint64 now = g_get_monotonic_time(); !m_streamingSince) {
        m_streamingSince = now;
    } else if (now - m_streamingSince >= kMaxStreamingMicros) {
        m_streamingSince = 0;
        priority = kYieldingPriority;
    }
    g_source_set_priority(source, priority);
}

void ExtensionChannel::close(const char* why)
{
    if (m_fd < 0)
        return;
    if (why)
        log::warning(format("penwick web process %@: %@; pages in this process lose the bridge", getpid(), why));
    if (m_watch)
        g_source_remove(m_watch);
    m_watch = 0;
    // A piece half read goes with the channel: nothing may be written into its answer any more.
    m_piece.reset();
    if (m_drainSource)
        g_source_remove(m_drainSource);
    m_drainSource = 0;
    ::close(m_fd);
    m_fd = -1;
}

bool ExtensionChannel::writeAll(const std::vector<std::string_view>& pieces)
{
    // Large buffers go from the page's memory to the socket without a copy on the way.
    std::vector<iovec> vectors;
    vectors.reserve(pieces.size());
    for (auto piece : pieces) {
        if (!piece.empty())
            vectors.push_back(iovec { const_cast<char*>(piece.data()), piece.size() });
    }
    std::size_t first = 0;
    while (first < vectors.size()) {
        msghdr message {};
        message.msg_iov = vectors.data() + first;
        message.msg_iovlen = std::min<std::size_t>(vectors.size() - first, IOV_MAX);
        ssize_t n = sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        auto written = static_cast<std::size_t>(n);
        while (first < vectors.size() && written >= vectors[first].iov_len)
            written -= vectors[first++].iov_len;
        if (written) {
            vectors[first].iov_base = static_cast<char*>(vectors[first].iov_base) + written;
            vectors[first].iov_len -= written;
        }
    }
    return true;
}

bool ExtensionChannel::post(FrameKind kind, std::uint64_t page, std::uint64_t context, const std::vector<std::string_view>& pieces)
{
    if (m_fd < 0)
        return false;
    std::size_t size = 0;
    for (auto piece : pieces)
        size += piece.size();
    auto length = channel::frameLength(size, m_maxPayload);
    if (!length) {
        log::warning(format("penwick web process %@: a %@ frame of %@ bytes exceeds the page channel's limit of %@ bytes; it was not sent",
            getpid(), channel::frameKindName(kind), size, m_maxPayload));
        return false;
    }
    channel::FrameHeader header { *length, static_cast<std::uint32_t>(kind), page, context };
    std::vector<std::string_view> frame;
    frame.reserve(pieces.size() + 1);
    frame.emplace_back(reinterpret_cast<const char*>(&header), sizeof header);
    frame.insert(frame.end(), pieces.begin(), pieces.end());
    if (!writeAll(frame)) {
        close("cannot write to the host");
        return false;
    }
    return true;
}

bool ExtensionChannel::startPiece()
{
    channel::FrameView partial;
    std::size_t length = 0;
    // Worth it only for the bulk of a piece; a piece whose head has not all come waits for it.
    constexpr std::size_t kMinInPlace = 64 * 1024;
    if (m_fd < 0 || !m_reader.partial(partial, length) || partial.kind != FrameKind::AnswerPiece
        || partial.payload.size() < sizeof(channel::AnswerPieceHead) || length - partial.payload.size() < kMinInPlace)
        return false;
    std::string_view have = partial.payload.substr(sizeof(channel::AnswerPieceHead));
    std::size_t size = length - sizeof(channel::AnswerPieceHead);
    auto to = m_assembler.place(partial, size);
    if (!to) {
        close(("the host sent " + to.error().message).c_str());
        return false;
    }
    std::memcpy(*to, have.data(), have.size());
    m_piece = PieceInPlace { *to, size, have.size() };
    m_reader.dropPartial();
    return true;
}

void ExtensionChannel::piecePlaced()
{
    m_piece.reset();
    channel::AssembledAnswer answer;
    if (m_assembler.placed(answer) == channel::AnswerAssembler::Status::Complete)
        m_pending.push_back({ Frame { answer.kind, answer.page, answer.context, {} }, std::move(answer.bytes) });
}

bool ExtensionChannel::fill(Wait wait)
{
    // Most actions return within a few tens of microseconds. Waiting for them awake saves the
    // sleep and wake-up of this thread, which costs as much again on virtual machines; longer
    // actions are waited for asleep. Only the page's own thread waits awake, and only inside its
    // call; it yields meanwhile, so that a host sharing its processor answers sooner.
    char buffer[64 * 1024];
    const gint64 awakeUntil = wait == Wait::Yes ? g_get_monotonic_time() + kSpinMicros : 0;
    bool asleep = false;
    std::size_t taken = 0;
    for (;;) {
        if (!m_piece && !startPiece() && m_fd < 0)
            return false;
        char* to = m_piece ? m_piece->to + m_piece->done : buffer;
        std::size_t room = m_piece ? m_piece->size - m_piece->done : sizeof buffer;
        ssize_t n = recv(m_fd, to, room, asleep ? 0 : MSG_DONTWAIT);
        if (n > 0) {
            taken += static_cast<size_t>(n);
            if (m_piece) {
                m_piece->done += static_cast<size_t>(n);
                if (m_piece->done == m_piece->size) {
                    piecePlaced();
                    // The answer, once whole, runs before more is taken.
                    if (m_assembler.idle())
                        return true;
                }
            } else {
                m_reader.feed(buffer, static_cast<size_t>(n));
            }
            // A host streaming a large answer keeps the socket full: what came is handled before
            // more is taken, so that the reader's buffer stays small.
            if (static_cast<size_t>(n) < room || taken >= kMaxFillBytes)
                return true;
            // More may be waiting; take it without blocking.
            wait = Wait::No;
            asleep = false;
            continue;
        }
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (wait == Wait::No)
            return true;
        if (g_get_monotonic_time() < awakeUntil)
            sched_yield();
        else
            asleep = true;
    }
}

std::optional<Frame> ExtensionChannel::call(FrameKind kind, std::uint64_t page, std::uint64_t context,
    const std::vector<std::string_view>& pieces, FrameKind answer)
{
    if (!post(kind, page, context, pieces))
        return std::nullopt;
    std::optional<Frame> result;
    while (m_fd >= 0 && !result) {
        Frame frame;
        auto status = nextFrame(frame);
        if (status == channel::FrameReader::Status::Frame) {
            if (frame.kind == answer)
                result = std::move(frame);
            else
                keepOrDrop(std::move(frame));
            continue;
        }
        if (status == channel::FrameReader::Status::Broken) {
            close("the host sent a frame this extension does not understand");
            break;
        }
        if (!fill(Wait::Yes))
            close("the host closed the channel during a call");
    }
    // Frames that came with the answer sit in the reader; the socket will not wake us for them.
    if (!m_pending.empty() || !m_reader.empty())
        scheduleDrain();
    return result;
}

channel::FrameReader::Status ExtensionChannel::nextFrame(Frame& frame)
{
    for (;;) {
        channel::FrameView view;
        auto status = m_reader.next(view);
        if (status != channel::FrameReader::Status::Frame)
            return status;
        if (view.kind != FrameKind::AnswerPiece) {
            frame = Frame { view.kind, view.page, view.context, std::string(view.payload) };
            return status;
        }
        // A large answer takes its place once its last piece has come.
        channel::AssembledAnswer answer;
        auto taken = m_assembler.take(view, answer);
        if (!taken) {
            close(("the host sent " + taken.error().message).c_str());
            return channel::FrameReader::Status::NeedMore;
        }
        if (*taken == channel::AnswerAssembler::Status::Complete)
            m_pending.push_back({ Frame { answer.kind, answer.page, answer.context, {} }, std::move(answer.bytes) });
    }
}

void ExtensionChannel::keepOrDrop(Frame&& frame)
{
    // Only scripts and callbacks to run travel unasked; anything else out of turn is stale and dropped.
    if (frame.kind == FrameKind::EvaluatePiece) {
        m_scriptPieces += frame.payload;
        return;
    }
    if (frame.kind == FrameKind::NativeCallback || frame.kind == FrameKind::CallbackAnswer) {
        m_pending.push_back({ std::move(frame), nullptr });
        return;
    }
    if (frame.kind != FrameKind::Evaluate)
        return;
    if (!m_scriptPieces.empty()) {
        m_scriptPieces += frame.payload;
        frame.payload = std::move(m_scriptPieces);
        m_scriptPieces.clear();
    }
    m_pending.push_back({ std::move(frame), nullptr });
}

void ExtensionChannel::scheduleDrain()
{
    if (m_drainSource)
        return;
    m_drainSource = g_idle_add_full(G_PRIORITY_DEFAULT,
        +[](gpointer data) -> gboolean {
            auto* self = static_cast<ExtensionChannel*>(data);
            self->m_drainSource = 0;
            self->drain();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

void ExtensionChannel::drain()
{
    // Scripts run one by one; one of them may call the host again, which may bring more.
    while (m_fd >= 0) {
        if (m_pending.empty()) {
            Frame frame;
            auto status = nextFrame(frame);
            if (status == channel::FrameReader::Status::Broken) {
                close("the host sent a frame this extension does not understand");
                break;
            }
            if (status == channel::FrameReader::Status::Frame)
                keepOrDrop(std::move(frame));
            else if (m_pending.empty()) // a large answer's last piece may have been the last frame here
                break;
            continue;
        }
        // Everything that is here for the same page runs as one batch.
        while (m_fd >= 0) {
            Frame frame;
            auto status = nextFrame(frame);
            if (status != channel::FrameReader::Status::Frame)
                break;
            keepOrDrop(std::move(frame));
        }
        std::uint64_t page = m_pending.front().frame.page;
        std::uint64_t context = m_pending.front().frame.context;
        if (m_pending.front().frame.kind == FrameKind::NativeCallback) {
            Pending callback = std::move(m_pending.front());
            m_pending.pop_front();
            if (m_callbackRunner)
                m_callbackRunner(page, context, callback.payload(), callback.large);
            if (m_fd < 0)
                break;
            continue;
        }
        // A batch of scripts, or of answers, ends before a frame of another kind, which keeps its
        // place in the order.
        FrameKind kind = m_pending.front().frame.kind;
        std::vector<Pending> batch;
        size_t bytes = 0;
        while (!m_pending.empty() && m_pending.front().frame.page == page && m_pending.front().frame.context == context
            && m_pending.front().frame.kind == kind && bytes < kMaxBatchBytes) {
            bytes += m_pending.front().payload().size();
            batch.push_back(std::move(m_pending.front()));
            m_pending.pop_front();
        }
        if (kind == FrameKind::CallbackAnswer) {
            std::vector<std::string_view> answers;
            answers.reserve(batch.size());
            for (const auto& answer : batch)
                answers.push_back(answer.payload());
            if (m_answerRunner)
                m_answerRunner(page, context, answers);
        } else if (m_evaluator) {
            std::vector<std::string> scripts;
            scripts.reserve(batch.size());
            for (auto& script : batch)
                scripts.push_back(std::move(script.frame.payload));
            m_evaluator(page, context, scripts);
        }
        if (m_fd < 0)
            break;
    }
}

} // namespace penwick::webext
