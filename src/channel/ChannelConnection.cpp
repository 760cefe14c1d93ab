#include "channel/ChannelConnection.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <utility>
#include <glib-unix.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/Format.h"
#include "base/Log.h"

namespace penwick::channel {
namespace {
// What a stranger's read takes at most: one header and the largest first frame.
constexpr std::size_t kStrangerRead = sizeof(FrameHeader) + kMaxHelloPayload;
// Frames handled in a row before the main loop's other sources get their turn again.
constexpr gint64 kMaxBurstMicros = 2000;
// How soon after its answer a page's next call must come for calls to count as in a row, and how
// long the host then waits for the next one awake.
constexpr gint64 kCallGapMicros = 50;
} // namespace

ChannelConnection::ChannelConnection(int fd, HostEndpoint& host, const PageEndpoints& pages)
    : m_fd(fd)
    , m_host(host)
    , m_pages(pages)
{
    m_reader.setMaxPayload(kMaxHelloPayload);
}

ChannelConnection::~ChannelConnection()
{
    m_reportClose = false;
    close({});
}

void ChannelConnection::start(unsigned introductionTimeoutMs)
{
    // Below the socket's priority: when both are due (the main loop was busy), a Hello that has
    // arrived is read before the deadline is judged.
    if (!m_introduced) {
        m_introductionTimeoutMs = introductionTimeoutMs;
        m_introductionTimer = g_timeout_add_full(G_PRIORITY_DEFAULT + 1, introductionTimeoutMs,
            &ChannelConnection::onIntroductionTimeout, this, nullptr);
    }
    watchSocket();
}

void ChannelConnection::watchSocket()
{
    m_readWatch = g_unix_fd_add(m_fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
        &ChannelConnection::onReadable, this);
    // A source that may not recurse is taken out of the poll set and put back around every
    // dispatch, which wakes the main loop twice per frame. onReadable() guards against re-entry
    // itself (an action may run a nested main loop).
    if (GSource* source = g_main_context_find_source_by_id(nullptr, m_readWatch))
        g_source_set_can_recurse(source, TRUE);
}

bool ChannelConnection::holdsEnough() const { return m_reader.pending() >= m_maxPayload + sizeof(FrameHeader); }

void ChannelConnection::setIntroduced(long pid, std::string credential)
{
    m_introduced = true;
    m_pid = pid;
    m_credential = std::move(credential);
    m_reader.setMaxPayload(kMaxPayload);
    if (m_introductionTimer)
        g_source_remove(m_introductionTimer);
    m_introductionTimer = 0;
}

gboolean ChannelConnection::onIntroductionTimeout(gpointer data)
{
    auto* self = static_cast<ChannelConnection*>(data);
    auto keep = self->shared_from_this();
    self->m_introductionTimer = 0;
    self->close(format("it did not introduce itself within %@ ms", self->m_introductionTimeoutMs));
    return G_SOURCE_REMOVE;
}

gboolean ChannelConnection::onPageClaimTimeout(gpointer data)
{
    auto* self = static_cast<ChannelConnection*>(data);
    auto keep = self->shared_from_this();
    self->m_pageClaimTimer = 0;
    if (auto waiting = std::exchange(self->m_waitingContext, std::nullopt)) {
        if (!std::exchange(self->m_foreignPageLogged, true))
            log::warning(format("refused a script context of page %@ that web process %@ announced: that process does not host "
                                "the page; the frame gets no bridge",
                waiting->page, self->m_pid));
        self->answerNewContext(*waiting, nullptr);
    }
    return G_SOURCE_REMOVE;
}

void ChannelConnection::pageClaimed()
{
    if (!m_waitingContext)
        return;
    PageEndpoint* page = pageFor(m_waitingContext->page);
    if (!page || !page->hostedBy(m_credential))
        return;
    if (m_pageClaimTimer)
        g_source_remove(m_pageClaimTimer);
    m_pageClaimTimer = 0;
    auto waiting = std::exchange(m_waitingContext, std::nullopt);
    answerNewContext(*waiting, page);
}

void ChannelConnection::answerNewContext(const Frame& frame, PageEndpoint* page)
{
    std::uint64_t contextId = 0;
    ContextSetup setup;
    auto notice = decode<NewContext>(frame.payload);
    if (!notice) {
        log::warning(format("ERROR: web process %@ sent a frame the host cannot read (%@); it was dropped.", m_pid,
            notice.error().message));
    } else if (page) {
        contextId = m_host.newContextId();
        setup = page->didCreateScriptContext(shared_from_this(), contextId, *notice);
    }
    // Always answered: the web process waits for it.
    if (auto sent = send(FrameKind::ContextSetup, frame.page, contextId, encode(setup)); !sent) {
        log::warning(format("ERROR: %@; the frame gets no bridge.", sent.error().message));
        (void)send(FrameKind::ContextSetup, frame.page, 0, encode(ContextSetup {}));
    }
}

gboolean ChannelConnection::onReadable(gint, GIOCondition, gpointer data)
{
    auto* self = static_cast<ChannelConnection*>(data);
    // Frame handlers may close the connection and drop the last reference to it.
    auto keep = self->shared_from_this();
    if (self->m_dispatching) {
        char buffer[64 * 1024];
        // Re-entered from a nested main loop inside a frame handler: buffer what came (the outer
        // call handles it) so that the readable socket does not spin the nested loop. Its process
        // waits for the call meanwhile; one that writes on (a modal dialog may stay for long) is
        // left unread beyond a frame, its socket unwatched until the outer call is done.
        for (;;) {
            if (self->holdsEnough()) {
                self->m_readWatch = 0;
                self->m_readPaused = true;
                return G_SOURCE_REMOVE;
            }
            ssize_t n = recv(self->m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                self->m_reader.feed(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return G_SOURCE_CONTINUE;
            // Gone: stop watching; the outer call closes the connection.
            self->m_peerGone = true;
            self->m_readWatch = 0;
            return G_SOURCE_REMOVE;
        }
    }
    bool closed = !self->readAvailable();
    Frame frame;
    self->m_dispatching = true;
    self->m_dispatchDepth = g_main_depth();
    struct Done {
        ChannelConnection* self;
        ~Done() { self->m_dispatching = false; }
    } done { self };
    const gint64 started = g_get_monotonic_time();
    // Calls come in a row when the page sent this one within moments of its last answer. Only then
    // is the next one waited for: a page that runs its callbacks first, or a machine so busy that
    // the page is slow to run, gets the main loop (a waiting host would take the processor from
    // the very page it waits for).
    self->m_callsInARow = started - self->m_answeredAt < kCallGapMicros;
    for (;;) {
        bool answeredCall = false;
        for (;;) {
            if (self->m_fd < 0)
                return G_SOURCE_REMOVE;
            auto status = self->m_reader.next(frame);
            if (status == FrameReader::Status::NeedMore)
                break;
            if (status == FrameReader::Status::Broken) {
                self->m_readWatch = 0;
                std::string why = "the web process sent a frame the host does not understand";
                if (!self->m_introduced)
                    why += format(" (a first frame carries at most %@ bytes)", kMaxHelloPayload);
                self->close(why);
                return G_SOURCE_REMOVE;
            }
            answeredCall |= frame.kind == FrameKind::Exec || frame.kind == FrameKind::ExecTooLarge;
            self->dispatch(frame);
        }
        if (self->m_fd < 0)
            return G_SOURCE_REMOVE;
        // What the frames' handlers sent leaves in one write.
        if (!self->m_writeWatch)
            self->flush();
        // A page making calls in a row may have sent its next one meanwhile: it is handled now,
        // without a trip through the main loop.
        if (closed || self->m_peerGone || self->m_fd < 0 || !answeredCall || g_get_monotonic_time() - started > kMaxBurstMicros)
            break;
        // While the calls come in a row, the next one is waited for awake, briefly: a wake-up from
        // the main loop costs more than the wait.
        std::size_t before = self->m_reader.pending();
        const gint64 answered = g_get_monotonic_time();
        for (;;) {
            closed = !self->readAvailable();
            if (closed || self->m_reader.pending() != before || !self->m_callsInARow
                || g_get_monotonic_time() - answered >= kCallGapMicros)
                break;
            // A page sharing this processor gets it meanwhile.
            sched_yield();
        }
        if (!closed && self->m_reader.pending() == before) {
            self->m_callsInARow = false;
            self->m_answeredAt = answered;
            break;
        }
    }
    if ((closed || self->m_peerGone) && self->m_fd >= 0) {
        self->m_readWatch = 0;
        self->close("the web process closed the channel");
        return G_SOURCE_REMOVE;
    }
    if (std::exchange(self->m_readPaused, false) && self->m_fd >= 0) {
        // This source went in the nested loop.
        self->watchSocket();
        return G_SOURCE_REMOVE;
    }
    return self->m_fd >= 0 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

PageEndpoint* ChannelConnection::pageFor(std::uint64_t page) const
{
    for (PageEndpoint* endpoint : m_pages) {
        if (endpoint->pageId() == page)
            return endpoint;
    }
    return nullptr;
}

void ChannelConnection::introduce(const Frame& frame)
{
    if (frame.kind != FrameKind::Hello) {
        close("a process without the host's token tried the page channel");
        return;
    }
    auto hello = decode<Hello>(frame.payload);
    if (!hello) {
        close(format("the web process sent a frame the host cannot read (%@)", hello.error().message));
        return;
    }
    m_host.introduce(*this, *hello);
}

void ChannelConnection::dispatch(Frame& frame)
{
    if (!m_introduced) {
        introduce(frame);
        return;
    }
    // Every payload of the wrong shape ends up here, with one line; a frame the web process waits
    // on is still answered.
    auto refused = [&](const Error& error) {
        log::warning(format("ERROR: web process %@ sent a frame the host cannot read (%@); it was dropped.", m_pid,
            error.message));
    };
    PageEndpoint* page = pageFor(frame.page);
    if (frame.kind == FrameKind::NewContext && page && !page->hostedBy(m_credential) && !m_waitingContext) {
        // The process's claim of the page may still be on its way (a new process made the page
        // just now); its web process waits meanwhile, and sends nothing else.
        m_waitingContext = std::move(frame);
        m_pageClaimTimer = g_timeout_add(m_pageClaimWaitMs, &ChannelConnection::onPageClaimTimeout, this);
        return;
    }
    // Nothing about a page of another process is taken from this one; a well-behaved process
    // announces one context at a time.
    if (page && (!page->hostedBy(m_credential) || (frame.kind == FrameKind::NewContext && m_waitingContext)))
        page = nullptr;
    switch (frame.kind) {
    case FrameKind::NewContext:
        answerNewContext(frame, page);
        break;
    case FrameKind::Exec: {
        auto call = decode<ExecCall>(frame.payload);
        if (!call)
            refused(call.error());
        else if (page)
            page->execInContext(*this, frame.context, std::move(*call));
        // Always answered, whatever the action did: the page waits for it.
        (void)send(FrameKind::ExecDone, frame.page, frame.context, {});
        break;
    }
    case FrameKind::ExecTooLarge: {
        auto call = decode<ExecTooLarge>(frame.payload);
        if (!call)
            refused(call.error());
        else if (page)
            page->execTooLarge(*this, frame.context, *call, m_maxPayload);
        (void)send(FrameKind::ExecDone, frame.page, frame.context, {});
        break;
    }
    case FrameKind::Console:
        if (auto call = decode<ConsoleCall>(frame.payload); !call)
            refused(call.error());
        else if (page)
            page->consoleInContext(*this, frame.context, std::move(*call));
        break;
    case FrameKind::EngineConsole:
        if (auto message = decode<EngineConsole>(frame.payload); !message)
            refused(message.error());
        else if (page)
            page->engineConsoleMessage(*message);
        break;
    case FrameKind::FrameGone:
        if (auto gone = decode<FrameGone>(frame.payload); !gone)
            refused(gone.error());
        else if (page)
            page->frameGone(gone->frame);
        break;
    case FrameKind::DialogOpener:
        if (page)
            page->dialogOpener(*this, frame.context);
        // The web process waits for the note of an opener, not for the end of a dialog.
        if (frame.context)
            (void)send(FrameKind::ExecDone, frame.page, frame.context, {});
        break;
    default:
        // Frames only the host sends, or a second introduction: ignored.
        break;
    }
}

bool ChannelConnection::readAvailable()
{
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = recv(m_fd, buffer, m_introduced ? sizeof buffer : kStrangerRead, MSG_DONTWAIT);
        if (n > 0) {
            m_reader.feed(buffer, static_cast<size_t>(n));
            // A stranger gets one read per turn: its first frame is checked before more is taken.
            // A peer that writes as fast as this reads is read no further than a frame ahead.
            if (static_cast<size_t>(n) < sizeof buffer || !m_introduced || holdsEnough())
                return true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void ChannelConnection::close(const std::string& why)
{
    if (m_fd < 0)
        return;
    if (m_readWatch)
        g_source_remove(m_readWatch);
    if (m_writeWatch)
        g_source_remove(m_writeWatch);
    if (m_introductionTimer)
        g_source_remove(m_introductionTimer);
    if (m_flushSource)
        g_source_remove(m_flushSource);
    if (m_pageClaimTimer)
        g_source_remove(m_pageClaimTimer);
    m_readWatch = m_writeWatch = m_introductionTimer = m_flushSource = m_pageClaimTimer = 0;
    m_waitingContext.reset();
    ::close(m_fd);
    m_fd = -1;
    auto unsent = std::move(m_out);
    m_out.clear();
    auto unsentLarge = std::move(m_large);
    m_large.clear();
    m_outOffset = 0;
    if (std::exchange(m_reportClose, false))
        m_host.connectionClosed(*this, why);
}

} // namespace penwick::channel
