#include "platform/gtk/GtkFileScheme.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <gio/gunixinputstream.h>
#include <libsoup/soup.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "platform/gtk/GtkEngineContext.h"

// Hands the engine a body, `length` bytes of a base stream, read ahead off the main loop and no
// faster than the page's web process takes it.
//
// The engine reads a scheme's stream in small pieces, one main-loop turn each, and sends each piece
// to the web process as a message of its own. Handing each piece to a thread costs more than the
// bytes do, so the base stream is read ahead in large pieces into two buffers (one answers the
// engine's reads from memory while the next fills on GIO's threads), and the small reads never
// leave the main loop. A piece is at most kPieceSize: the engine carries a message above 4 KiB in a
// shared memory segment made for it alone, whose mapping and unmapping in both processes cost
// several times what the bytes do (a 256 MiB body in 8 KiB pieces took three times the processor
// time of the same in pieces just under 4 KiB).
//
// The engine sends each piece to the web process at once, however far behind that process is;
// unpaced, a large body piles up in this process on its way there. So after every kPacingStep
// bytes the stream sends the page a message, which travels behind those bytes on the same
// connection and is answered (as unhandled) only when the web process has taken them. Reads wait
// while more than kPacingWindow bytes are unanswered; the window keeps the web process supplied
// between answers. A message that fails (the page or its process is gone) proves nothing: the read
// stays parked until the engine drops the stream. Runs on the main loop, except the base stream's
// own reads.
struct PenwickPacedStream;
namespace {

constexpr guint64 kPacingWindow = 8 << 20;
constexpr guint64 kPacingStep = 1 << 20;
constexpr const char* kPacingMessage = "penwick-stream-mark";
// Each of a stream's two read-ahead buffers.
constexpr gsize kReadAheadSize = 512 << 10;
// The most one read hands the engine: its message to the web process, with the engine's own
// fields, stays within 4 KiB.
constexpr gsize kPieceSize = 3840;

// One of the few bodies a web view may stream at once (see GtkFileScheme); handed back when the
// body ends or the engine drops it.
class StreamSlot;

struct ReadAhead {
    enum class State { Empty, Filling, Full };
    std::unique_ptr<char[]> bytes;
    gsize size = 0; // read into `bytes`
    gsize used = 0; // of those, handed to the engine
    State state = State::Empty;
};

struct ParkedRead {
    penwick::GRef<GTask> task;
    void* buffer = nullptr;
    gsize count = 0;
    penwick::GUnique<GSource> cancelWatch;
};

struct Pacing {
    penwick::GRef<GInputStream> base;
    guint64 unread = 0; // of the body, not yet read from `base`
    GWeakRef view;
    guint64 sent = 0; // handed to the engine
    guint64 taken = 0; // known to be in the web process
    guint64 marked = 0; // `sent` when the last message went out
    // The body's bytes come from buffers[0], then from buffers[1].
    ReadAhead buffers[2];
    penwick::GUnique<GError> failure; // the base stream's, handed to the next read
    penwick::GRef<GCancellable> cancellable = penwick::adopt(g_cancellable_new());
    bool closed = false;
    int priority = G_PRIORITY_DEFAULT;
    std::optional<ParkedRead> parked;
    std::shared_ptr<StreamSlot> slot;
};

} // namespace

struct PenwickPacedStream {
    GInputStream parent;
    Pacing* pacing;
};
struct PenwickPacedStreamClass {
    GInputStreamClass parentClass;
};
G_DEFINE_TYPE(PenwickPacedStream, penwick_paced_stream, G_TYPE_INPUT_STREAM)

namespace {

Pacing& pacingOf(gpointer stream)
{
    return *reinterpret_cast<PenwickPacedStream*>(stream)->pacing;
}

void resumeParkedRead(PenwickPacedStream* self);
void onFilled(GObject* base, GAsyncResult* result, gpointer data);

bool filling(const Pacing& pacing)
{
    return pacing.buffers[0].state == ReadAhead::State::Filling || pacing.buffers[1].state == ReadAhead::State::Filling;
}

// Starts reading the next piece of the body into an empty buffer, one piece at a time.
void fill(PenwickPacedStream* self)
{
    Pacing& pacing = *self->pacing;
    auto& [front, back] = pacing.buffers;
    if (front.state == ReadAhead::State::Empty && back.state != ReadAhead::State::Empty)
        std::swap(front, back); // a running read keeps its memory, which moves with it
    if (!pacing.unread || pacing.failure || pacing.closed || front.state == ReadAhead::State::Filling
        || back.state == ReadAhead::State::Filling)
        return;
    ReadAhead& target = front.state == ReadAhead::State::Empty ? front : back;
    if (target.state != ReadAhead::State::Empty)
        return;
    if (!target.bytes)
        target.bytes = std::make_unique<char[]>(kReadAheadSize);
    target.state = ReadAhead::State::Filling;
    g_input_stream_read_async(pacing.base.get(), target.bytes.get(), static_cast<gsize>(std::min<guint64>(kReadAheadSize, pacing.unread)),
        pacing.priority, pacing.cancellable.get(), onFilled, g_object_ref(self));
}

void onFilled(GObject* base, GAsyncResult* result, gpointer data)
{
    penwick::GRef<GObject> stream = penwick::adopt(G_OBJECT(data));
    auto* self = reinterpret_cast<PenwickPacedStream*>(stream.get());
    Pacing& pacing = *self->pacing;
    auto& [front, back] = pacing.buffers;
    ReadAhead& filled = front.state == ReadAhead::State::Filling ? front : back;
    penwick::GUnique<GError> error;
    gssize read = g_input_stream_read_finish(G_INPUT_STREAM(base), result, &error.outPtr());
    filled.state = read > 0 ? ReadAhead::State::Full : ReadAhead::State::Empty;
    filled.size = read > 0 ? static_cast<gsize>(read) : 0;
    filled.used = 0;
    if (pacing.closed) {
        // Left open while the read ran.
        g_input_stream_close(G_INPUT_STREAM(base), nullptr, nullptr);
        return;
    }
    if (read < 0)
        pacing.failure = std::move(error);
    else if (read == 0)
        pacing.unread = 0; // the file got shorter: the body ends early
    else
        pacing.unread -= static_cast<guint64>(read);
    fill(self);
    resumeParkedRead(self);
}

struct Mark {
    penwick::GRef<GObject> stream;
    guint64 position = 0;
};

void onMarkAnswered(GObject* view, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<Mark> mark(static_cast<Mark*>(data));
    penwick::GUnique<GError> error;
    penwick::GRef<WebKitUserMessage> reply = penwick::adopt(
        webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(view), result, &error.outPtr()));
    // Unhandled is the expected answer: the web process read the message, so it has the bytes
    // sent before it. Any other failure says nothing about them.
    if (!reply && !g_error_matches(error.get(), WEBKIT_USER_MESSAGE_ERROR, WEBKIT_USER_MESSAGE_UNHANDLED_MESSAGE))
        return;
    auto* self = reinterpret_cast<PenwickPacedStream*>(mark->stream.get());
    self->pacing->taken = std::max(self->pacing->taken, mark->position);
    resumeParkedRead(self);
}

void sendMark(PenwickPacedStream* self)
{
    Pacing& pacing = *self->pacing;
    if (pacing.sent - pacing.marked < kPacingStep)
        return;
    pacing.marked = pacing.sent;
    penwick::GRef<WebKitWebView> view = penwick::adopt(static_cast<WebKitWebView*>(g_weak_ref_get(&pacing.view)));
    // No page to pace by (the view is gone): the engine drops the stream with it.
    if (!view)
        return;
    auto* mark = new Mark { penwick::GRef<GObject>(G_OBJECT(self)), pacing.sent };
    webkit_web_view_send_message_to_page(view.get(), webkit_user_message_new(kPacingMessage, nullptr), nullptr,
        onMarkAnswered, mark);
}

// Whether a read can be answered now: the window is open and bytes (or the end, or a failure) are
// at hand.
bool canAnswer(const Pacing& pacing)
{
    if (pacing.sent - pacing.taken >= kPacingWindow)
        return false;
    auto state = pacing.buffers[0].state;
    return state == ReadAhead::State::Full || (state == ReadAhead::State::Empty && pacing.buffers[1].state == ReadAhead::State::Empty);
}

// Once canAnswer().
void answer(PenwickPacedStream* self, penwick::GRef<GTask> task, void* buffer, gsize count)
{
    Pacing& pacing = *self->pacing;
    ReadAhead& front = pacing.buffers[0];
    if (front.state == ReadAhead::State::Empty) {
        if (pacing.failure)
            g_task_return_error(task.get(), g_error_copy(pacing.failure.get()));
        else
            g_task_return_int(task.get(), 0);
        return;
    }
    gsize length = static_cast<gsize>(
        std::min<guint64>({ count, kPieceSize, front.size - front.used, kPacingWindow - (pacing.sent - pacing.taken) }));
    std::memcpy(buffer, front.bytes.get() + front.used, length);
    front.used += length;
    pacing.sent += length;
    if (front.used == front.size) {
        front.state = ReadAhead::State::Empty;
        fill(self);
    }
    sendMark(self);
    // Answered on a later turn of the main loop when the read began on this one.
    g_task_return_int(task.get(), static_cast<gssize>(length));
}

void resumeParkedRead(PenwickPacedStream* self)
{
    Pacing& pacing = *self->pacing;
    if (!pacing.parked || !canAnswer(pacing))
        return;
    ParkedRead parked = std::move(*pacing.parked);
    pacing.parked.reset();
    if (parked.cancelWatch)
        g_source_destroy(parked.cancelWatch.get());
    answer(self, std::move(parked.task), parked.buffer, parked.count);
}

gboolean onParkedReadCancelled(GCancellable*, gpointer data)
{
    Pacing& pacing = pacingOf(data);
    if (pacing.parked) {
        ParkedRead parked = std::move(*pacing.parked);
        pacing.parked.reset();
        g_task_return_new_error(parked.task.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED, "the read was cancelled");
    }
    return G_SOURCE_REMOVE;
}

void pacedReadAsync(GInputStream* stream, void* buffer, gsize count, int priority, GCancellable* cancellable,
    GAsyncReadyCallback callback, gpointer data)
{
    auto* self = reinterpret_cast<PenwickPacedStream*>(stream);
    Pacing& pacing = *self->pacing;
    pacing.priority = priority;
    penwick::GRef<GTask> task = penwick::adopt(g_task_new(stream, cancellable, callback, data));
    g_task_set_priority(task.get(), priority);
    if (canAnswer(pacing)) {
        answer(self, std::move(task), buffer, count);
        return;
    }
    ParkedRead parked { std::move(task), buffer, count, {} };
    if (cancellable) {
        // Holds no reference: the parked task holds the stream until the watch is destroyed.
        parked.cancelWatch = penwick::GUnique<GSource>(g_cancellable_source_new(cancellable));
        g_source_set_callback(parked.cancelWatch.get(), G_SOURCE_FUNC(onParkedReadCancelled), self, nullptr);
        g_source_attach(parked.cancelWatch.get(), g_main_context_get_thread_default());
    }
    pacing.parked = std::move(parked);
}

gssize pacedReadFinish(GInputStream*, GAsyncResult* result, GError** error)
{
    return g_task_propagate_int(G_TASK(result), error);
}

gboolean pacedClose(GInputStream* stream, GCancellable* cancellable, GError** error)
{
    Pacing& pacing = pacingOf(stream);
    pacing.closed = true;
    pacing.slot.reset();
    if (filling(pacing)) {
        // The base stream is closed once its read has ended.
        g_cancellable_cancel(pacing.cancellable.get());
        return TRUE;
    }
    return g_input_stream_close(pacing.base.get(), cancellable, error);
}

} // namespace

static void penwickPacedStreamFinalize(GObject* object)
{
    // No read is parked here: a parked read's task holds the stream.
    Pacing* pacing = std::exchange(reinterpret_cast<PenwickPacedStream*>(object)->pacing, nullptr);
    g_weak_ref_clear(&pacing->view);
    delete pacing;
    G_OBJECT_CLASS(penwick_paced_stream_parent_class)->finalize(object);
}

static void penwick_paced_stream_class_init(PenwickPacedStreamClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = penwickPacedStreamFinalize;
    // No blocking reads: they come from no main loop, so nothing could pace them.
    klass->parentClass.read_async = pacedReadAsync;
    klass->parentClass.read_finish = pacedReadFinish;
    klass->parentClass.close_fn = pacedClose;
}

static void penwick_paced_stream_init(PenwickPacedStream* self)
{
    self->pacing = new Pacing;
    g_weak_ref_init(&self->pacing->view, nullptr);
}


namespace {

// The whfile bodies of one of the application's web views: how many stream now, and the requests
// waiting for one of them to end, in the order they came. Main loop only.
struct ViewStreams {
    using Start = std::function<void(std::shared_ptr<StreamSlot>)>;
    unsigned open = 0;
    std::deque<Start> waiting;
    bool closed = false; // the view is gone: nothing more starts
    // Whether the view's documents that may reach the scheme are the app's own content now, or the
    // request for `uri` is the host's own load of the view.
    std::function<bool(std::string_view uri)> showsAppContent;
};

void releaseStream(const std::shared_ptr<ViewStreams>& streams, penwick::platform::Scheduler& scheduler);

class StreamSlot {
public:
    StreamSlot(std::shared_ptr<ViewStreams> streams, penwick::platform::Scheduler& scheduler)
        : m_streams(std::move(streams))
        , m_scheduler(scheduler)
    {
    }
    StreamSlot(const StreamSlot&) = delete;
    StreamSlot& operator=(const StreamSlot&) = delete;
    // The engine may drop a stream off the main loop; the count is kept there.
    ~StreamSlot()
    {
        m_scheduler.post([streams = std::move(m_streams), &scheduler = m_scheduler] { releaseStream(streams, scheduler); });
    }

private:
    std::shared_ptr<ViewStreams> m_streams;
    penwick::platform::Scheduler& m_scheduler;
};

// At most this many bodies stream at once per web view. Each holds an open file, two read-ahead
// buffers (kReadAheadSize each) and at most kPacingWindow bytes on their way to the web process,
// so a web view's bodies never hold more than kMaxStreams * (kPacingWindow + 2 * kReadAheadSize),
// 72 MiB, in this process, however many responses its pages leave unread. A page that leaves that
// many large bodies unread makes its later requests wait until the web process has taken them.
constexpr unsigned kMaxStreams = 8;

void startStream(const std::shared_ptr<ViewStreams>& streams, penwick::platform::Scheduler& scheduler, ViewStreams::Start start)
{
    ++streams->open;
    start(std::make_shared<StreamSlot>(streams, scheduler));
}

void admitStream(const std::shared_ptr<ViewStreams>& streams, penwick::platform::Scheduler& scheduler, ViewStreams::Start start)
{
    if (streams->open < kMaxStreams)
        startStream(streams, scheduler, std::move(start));
    else
        streams->waiting.push_back(std::move(start));
}

void releaseStream(const std::shared_ptr<ViewStreams>& streams, penwick::platform::Scheduler& scheduler)
{
    --streams->open;
    if (streams->closed || streams->waiting.empty())
        return;
    ViewStreams::Start next = std::move(streams->waiting.front());
    streams->waiting.pop_front();
    startStream(streams, scheduler, std::move(next));
}

} // namespace

namespace penwick::platform {
namespace {

// Marks the application's own web views, holding their streams.
GQuark servedViewQuark() { return g_quark_from_static_string("penwick-file-scheme-streams"); }

// Refused requests are logged, up to a point: a page can make them as fast as it likes.
constexpr unsigned kLoggedRefusals = 20;

// The first `length` bytes of `base` (it takes a reference), read ahead at once; `view` may be null.
GInputStream* pacedStream(GInputStream* base, guint64 length, WebKitWebView* view, std::shared_ptr<StreamSlot> slot)
{
    auto* stream = static_cast<PenwickPacedStream*>(g_object_new(penwick_paced_stream_get_type(), nullptr));
    stream->pacing->base = GRef<GInputStream>(base);
    stream->pacing->unread = length;
    stream->pacing->slot = std::move(slot);
    g_weak_ref_set(&stream->pacing->view, view);
    fill(stream);
    return G_INPUT_STREAM(stream);
}

std::optional<std::string> requestHeader(WebKitURISchemeRequest* request, const char* name)
{
    SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request);
    const char* value = headers ? soup_message_headers_get_one(headers, name) : nullptr;
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// What the work queue hands back to the main loop: the response, and for one with a body a stream
// that starts at the body's first byte (the response's length says where it ends).
struct Answer {
    SchemeResponse response;
    GRef<GInputStream> body;
};

Answer prepare(const std::string& uri, const SchemeRequest& request, const FileSource& source, const SchemeRules& rules)
{
    Answer answer;
    auto file = source.fileForURL(uri);
    if (file && file->bytes) {
        // Bytes of the program: they live as long as the process.
        answer.response = FileSchemeResponder::respond(request, file, file->bytes->size(), rules);
        if (answer.response.hasBody)
            answer.body = adopt(g_memory_input_stream_new_from_data(file->bytes->data() + answer.response.offset,
                static_cast<gssize>(answer.response.length), nullptr));
        return answer;
    }
    GRef<GInputStream> stream;
    std::optional<std::uint64_t> size;
    int fd = -1;
    if (file) {
        // Regular files only, told by the opened file itself: opening a FIFO would block this
        // worker (and with a few of them every file action of the app), and a device never ends.
        fd = file->descriptor ? file->descriptor->release() : -1;
        struct stat st;
        if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            size = static_cast<std::uint64_t>(st.st_size);
            stream = adopt(g_unix_input_stream_new(fd, TRUE));
        } else if (fd >= 0) {
            ::close(fd);
            file.reset();
        }
    }
    answer.response = FileSchemeResponder::respond(request, file, size, rules);
    if (!answer.response.hasBody)
        return answer;
    if (answer.response.offset && lseek(fd, static_cast<off_t>(answer.response.offset), SEEK_SET) < 0) {
        answer.response = FileSchemeResponder::respond(request, std::nullopt, std::nullopt, rules);
        return answer;
    }
    answer.body = stream;
    return answer;
}

// `slot` goes with the body, if there is one; else it is handed back here.
void finish(WebKitURISchemeRequest* request, const Answer& answer, std::shared_ptr<StreamSlot> slot)
{
    GRef<GInputStream> body = answer.body;
    gint64 length = static_cast<gint64>(answer.response.hasBody ? answer.response.length : 0);
    if (!body)
        body = adopt(g_memory_input_stream_new());
    else
        body = adopt(pacedStream(body.get(), answer.response.length, webkit_uri_scheme_request_get_web_view(request), std::move(slot)));
    GRef<WebKitURISchemeResponse> response = adopt(webkit_uri_scheme_response_new(body.get(), length));
    webkit_uri_scheme_response_set_status(response.get(), static_cast<guint>(answer.response.status), nullptr);
    if (const auto* type = answer.response.header("Content-Type"))
        webkit_uri_scheme_response_set_content_type(response.get(), type->c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    for (const auto& [name, value] : answer.response.headers)
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    webkit_uri_scheme_response_set_http_headers(response.get(), headers); // takes the headers
    webkit_uri_scheme_request_finish_with_response(request, response.get());
}

} // namespace

GtkFileScheme::GtkFileScheme(SchemeRules rules, const FileSource& source, WorkQueue& workQueue, Scheduler& scheduler)
    : m_rules(std::move(rules))
    , m_source(source)
    , m_workQueue(workQueue)
    , m_scheduler(scheduler)
{
}

void GtkFileScheme::serve(const SchemeRules& rules, const FileSource& source, WorkQueue& workQueue, Scheduler& scheduler)
{
    // Lives as long as the engine context that calls it.
    auto* handler = new GtkFileScheme(rules, source, workQueue, scheduler);
    GtkEngineContext::shared().registerURIScheme(rules.scheme, [handler](WebKitURISchemeRequest* request) { handler->handle(request); });
}

void GtkFileScheme::serveView(WebKitWebView* view, std::function<bool(std::string_view uri)> showsAppContent)
{
    if (g_object_get_qdata(G_OBJECT(view), servedViewQuark()))
        return;
    auto streams = std::make_shared<ViewStreams>();
    streams->showsAppContent = std::move(showsAppContent);
    g_object_set_qdata_full(G_OBJECT(view), servedViewQuark(), new std::shared_ptr<ViewStreams>(std::move(streams)),
        [](gpointer data) {
            std::unique_ptr<std::shared_ptr<ViewStreams>> streams(static_cast<std::shared_ptr<ViewStreams>*>(data));
            (*streams)->closed = true;
            (*streams)->waiting.clear();
        });
}

void GtkFileScheme::handle(WebKitURISchemeRequest* request)
{
    SchemeRequest parsed;
    if (const char* method = webkit_uri_scheme_request_get_http_method(request))
        parsed.method = method;
    parsed.range = requestHeader(request, "Range");
    parsed.origin = requestHeader(request, "Origin");
    WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
    auto* streams = view ? static_cast<std::shared_ptr<ViewStreams>*>(g_object_get_qdata(G_OBJECT(view), servedViewQuark())) : nullptr;
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    // Which document asked the engine does not say; while the view's page is the app's own content,
    // so is every document in it that may load a local scheme (see GtkWebView::contentStanding).
    parsed.view = !streams                                                                       ? RequestingView::Other
        : !(*streams)->showsAppContent || (*streams)->showsAppContent(uri ? uri : "") ? RequestingView::App
                                                                                      : RequestingView::AppShowingOther;
    if (!FileSchemeResponder::admits(parsed, m_rules)) {
        // Before any file work, so that the answer and its timing say nothing about the file.
        if (m_refusalsLogged < kLoggedRefusals) {
            ++m_refusalsLogged;
            std::string from = !streams                               ? "a web view that is not the app's"
                : parsed.view == RequestingView::AppShowingOther ? "a page that is not the app's content"
                                                                 : "a frame of origin " + parsed.origin.value_or("");
            log::message(format("refused a %@ request from %@%@", m_rules.scheme, from,
                std::string(m_refusalsLogged == kLoggedRefusals ? "; further refusals are not logged" : "")));
        }
        finish(request, Answer { FileSchemeResponder::refusal(), {} }, nullptr);
        return;
    }
    admitStream(*streams, m_scheduler,
        [&source = m_source, &workQueue = m_workQueue, &scheduler = m_scheduler, &rules = m_rules, held = GRef(request),
            uri = std::string(uri ? uri : ""), parsed = std::move(parsed)](std::shared_ptr<StreamSlot> slot) mutable {
            workQueue.submit([&source, &scheduler, &rules, held = std::move(held), uri = std::move(uri),
                                 parsed = std::move(parsed), slot = std::move(slot)]() mutable {
                auto answer = std::make_shared<Answer>(prepare(uri, parsed, source, rules));
                // The request is released on the main loop only.
                scheduler.post([held = std::move(held), answer, slot = std::move(slot)]() mutable {
                    finish(held.get(), *answer, std::move(slot));
                });
            });
        });
}

} // namespace penwick::platform
