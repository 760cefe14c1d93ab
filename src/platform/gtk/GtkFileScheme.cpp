#include "platform/gtk/GtkFileScheme.h"

#include <algorithm>
#include <libsoup/soup.h>
#include <memory>

#include "base/GRef.h"
#include "platform/gtk/GtkEngineContext.h"

// A stream that ends after a given number of bytes of another, so a range answer carries exactly
// its bytes. Reads run where the engine reads them (GIO's thread for asynchronous reads).
struct PenwickLimitedStream {
    GInputStream parent;
    GInputStream* base;
    guint64 remaining;
};
struct PenwickLimitedStreamClass {
    GInputStreamClass parentClass;
};
G_DEFINE_TYPE(PenwickLimitedStream, penwick_limited_stream, G_TYPE_INPUT_STREAM)

static gssize penwickLimitedStreamRead(GInputStream* stream, void* buffer, gsize count, GCancellable* cancellable,
    GError** error)
{
    auto* self = reinterpret_cast<PenwickLimitedStream*>(stream);
    gsize wanted = static_cast<gsize>(std::min<guint64>(count, self->remaining));
    if (!wanted)
        return 0;
    gssize read = g_input_stream_read(self->base, buffer, wanted, cancellable, error);
    if (read > 0)
        self->remaining -= static_cast<guint64>(read);
    return read;
}

static gboolean penwickLimitedStreamClose(GInputStream* stream, GCancellable* cancellable, GError** error)
{
    return g_input_stream_close(reinterpret_cast<PenwickLimitedStream*>(stream)->base, cancellable, error);
}

static void penwickLimitedStreamFinalize(GObject* object)
{
    g_clear_object(&reinterpret_cast<PenwickLimitedStream*>(object)->base);
    G_OBJECT_CLASS(penwick_limited_stream_parent_class)->finalize(object);
}

static void penwick_limited_stream_class_init(PenwickLimitedStreamClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = penwickLimitedStreamFinalize;
    klass->parentClass.read_fn = penwickLimitedStreamRead;
    klass->parentClass.close_fn = penwickLimitedStreamClose;
}

static void penwick_limited_stream_init(PenwickLimitedStream*) { }

namespace penwick::platform {
namespace {

constexpr gsize kReadAheadSize = 1 << 20;

// Takes a reference to `base`.
GInputStream* limitedStream(GInputStream* base, guint64 length)
{
    auto* stream = static_cast<PenwickLimitedStream*>(g_object_new(penwick_limited_stream_get_type(), nullptr));
    stream->base = G_INPUT_STREAM(g_object_ref(base));
    stream->remaining = length;
    return G_INPUT_STREAM(stream);
}

std::optional<std::string> requestHeader(WebKitURISchemeRequest* request, const char* name)
{
    SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request);
    const char* value = headers ? soup_message_headers_get_one(headers, name) : nullptr;
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// What the work queue hands back to the main loop.
struct Answer {
    SchemeResponse response;
    std::string mimeType;
    GRef<GInputStream> body;
};

Answer prepare(const std::string& uri, const SchemeRequest& request, const FileSource& source, const std::string& scheme)
{
    Answer answer;
    auto file = source.fileForURL(uri);
    GRef<GFileInputStream> stream;
    std::optional<std::uint64_t> size;
    if (file) {
        GRef<GFile> gfile = adopt(g_file_new_for_path(file->localPath.c_str()));
        stream = adopt(g_file_read(gfile.get(), nullptr, nullptr));
        GRef<GFileInfo> info;
        if (stream)
            info = adopt(g_file_input_stream_query_info(stream.get(), G_FILE_ATTRIBUTE_STANDARD_SIZE, nullptr, nullptr));
        if (info)
            size = static_cast<std::uint64_t>(g_file_info_get_size(info.get()));
    }
    answer.response = FileSchemeResponder::respond(request, file, size, scheme);
    if (file)
        answer.mimeType = file->mimeType;
    if (!answer.response.hasBody)
        return answer;
    if (answer.response.offset
        && !g_seekable_seek(G_SEEKABLE(stream.get()), static_cast<goffset>(answer.response.offset), G_SEEK_SET, nullptr,
            nullptr)) {
        answer.response = FileSchemeResponder::respond(request, std::nullopt, std::nullopt, scheme);
        return answer;
    }
    GRef<GInputStream> bytes(G_INPUT_STREAM(stream.get()));
    if (answer.response.offset + answer.response.length < *size)
        bytes = adopt(limitedStream(bytes.get(), answer.response.length));
    // The engine reads small pieces; each would cost a trip to a thread. The buffer fills off the
    // main loop in large pieces and answers the small reads from memory.
    answer.body = adopt(g_buffered_input_stream_new_sized(bytes.get(), kReadAheadSize));
    return answer;
}

void finish(WebKitURISchemeRequest* request, Answer& answer)
{
    GRef<GInputStream> body = answer.body;
    gint64 length = static_cast<gint64>(answer.response.hasBody ? answer.response.length : 0);
    if (!body)
        body = adopt(g_memory_input_stream_new());
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

GtkFileScheme::GtkFileScheme(std::string scheme, const FileSource& source, WorkQueue& workQueue, Scheduler& scheduler)
    : m_scheme(std::move(scheme))
    , m_source(source)
    , m_workQueue(workQueue)
    , m_scheduler(scheduler)
{
}

void GtkFileScheme::serve(const std::string& scheme, const FileSource& source, WorkQueue& workQueue, Scheduler& scheduler)
{
    // Lives as long as the engine context that calls it.
    auto* handler = new GtkFileScheme(scheme, source, workQueue, scheduler);
    GtkEngineContext::shared().registerURIScheme(scheme, [handler](WebKitURISchemeRequest* request) { handler->handle(request); });
}

void GtkFileScheme::handle(WebKitURISchemeRequest* request)
{
    SchemeRequest parsed;
    if (const char* method = webkit_uri_scheme_request_get_http_method(request))
        parsed.method = method;
    parsed.range = requestHeader(request, "Range");
    parsed.origin = requestHeader(request, "Origin");
    GRef<WebKitURISchemeRequest> held(request);
    std::string uri = webkit_uri_scheme_request_get_uri(request);
    m_workQueue.submit([&source = m_source, &scheduler = m_scheduler, scheme = m_scheme, held, uri = std::move(uri),
                           parsed = std::move(parsed)]() mutable {
        auto answer = std::make_shared<Answer>(prepare(uri, parsed, source, scheme));
        // The request is released on the main loop only.
        scheduler.post([held = std::move(held), answer] { finish(held.get(), *answer); });
    });
}

} // namespace penwick::platform
