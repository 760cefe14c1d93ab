#include "platform/gtk/GtkFileScheme.h"

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
#include "platform/gtk/GtkPacedStream.h"

namespace {

// One of the few bodies a web view may stream at once; handed back when the body ends or the
// engine drops it.
class StreamSlot;

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

// At most this many bodies stream at once per web view. Each holds an open file and a paced
// stream's read-ahead buffers and window (GtkPacedStream), so a web view's bodies never hold more
// than kMaxStreams * (kPacingWindow + 2 * kReadAheadSize), 72 MiB, in this process, however many
// responses its pages leave unread. A page that leaves that many large bodies unread makes its
// later requests wait until the web process has taken them.
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
        body = GtkPacedStream::create(body.get(), answer.response.length, webkit_uri_scheme_request_get_web_view(request), std::move(slot));
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

void GtkFileScheme::serve(GtkEngineContext& engine, const SchemeRules& rules, const FileSource& source, WorkQueue& workQueue,
    Scheduler& scheduler)
{
    // Lives as long as the engine context that calls it.
    auto* handler = new GtkFileScheme(rules, source, workQueue, scheduler);
    engine.registerURIScheme(rules.scheme, [handler](WebKitURISchemeRequest* request) { handler->handle(request); });
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
