#include "platform/gtk/GtkPacedStream.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

struct PenwickPacedStream;
namespace {

constexpr guint64 kPacingWindow = penwick::platform::GtkPacedStream::kPacingWindow;
constexpr guint64 kPacingStep = 1 << 20;
constexpr const char* kPacingMessage = "penwick-stream-mark";
constexpr gsize kReadAheadSize = penwick::platform::GtkPacedStream::kReadAheadSize;
// The most one read hands the engine: its message to the web process, with the engine's own
// fields, stays within 4 KiB.
constexpr gsize kPieceSize = 3840;

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
    // Held until the body ends or the engine drops it.
    std::shared_ptr<void> lease;
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
        target.bytes = std::make_unique_for_overwrite<char[]>(kReadAheadSize);
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
    if (read < 0) {
        pacing.failure = std::move(error);
    } else if (read == 0) {
        // The file got shorter: the body fails after what was read, so that the page cannot take
        // a cut body (shorter than its Content-Length) for the whole file.
        pacing.unread = 0;
        pacing.failure.reset(g_error_new_literal(G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT, "the file got shorter while it was read"));
    } else
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
    pacing.lease.reset();
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

namespace penwick::platform {

GRef<GInputStream> GtkPacedStream::create(GInputStream* base, guint64 length, WebKitWebView* view, std::shared_ptr<void> lease)
{
    auto* stream = static_cast<PenwickPacedStream*>(g_object_new(penwick_paced_stream_get_type(), nullptr));
    stream->pacing->base = GRef<GInputStream>(base);
    stream->pacing->unread = length;
    stream->pacing->lease = std::move(lease);
    g_weak_ref_set(&stream->pacing->view, view);
    fill(stream);
    return adopt(G_INPUT_STREAM(stream));
}

} // namespace penwick::platform
