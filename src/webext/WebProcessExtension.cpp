// The host's code inside each web process. It holds no host state: for every new script context
// it asks the host what to install, and it forwards page calls, console lines and engine console
// messages to the host over the channel, in order.

#include <map>
#include <set>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <unistd.h>
#include <vector>
#include <webkit2/webkit-web-extension.h>

#include "base/BeneathResolver.h"
#include "base/FileURLPath.h"
#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "base/Utf8.h"
#include "channel/ChannelProtocol.h"
#include "channel/FileReach.h"
#include "webext/ConsoleScript.h"
#include "webext/EngineGapsScript.h"
#include "webext/ExtensionChannel.h"

namespace penwick::webext {
namespace {

using channel::FrameKind;
using penwick::Bytes;
using penwick::Value;
using penwick::ValueArray;
using penwick::ValueObject;

struct ExtensionState {
    WebKitWebExtension* extension = nullptr;
    ExtensionChannel channel;
    // This process's token: it claims the pages the process hosts with it (kPageClaimMessage).
    std::string credential;
    // Tests stand in for a web process that disobeys the host: every context gets `hostbridge`,
    // so that the host's own check of each call can be seen at work.
    bool bridgeEverywhere = false;
    // Every live frame, by frame id, with the context id the host gave its current document (0:
    // none); and the frame of each such context. Frames leave when the engine releases them.
    struct TrackedFrame {
        WebKitFrame* frame = nullptr;
        std::uint64_t page = 0;
        std::uint64_t context = 0;
    };
    std::map<std::uint64_t, TrackedFrame> frames;
    std::map<std::uint64_t, std::uint64_t> contextFrames;
    // The last context whose answers were dropped, so that a run of them gives one line.
    std::uint64_t lastDroppedContext = 0;
    // The origin of each page's main-frame document, as it was before any of its script ran; and
    // the pages whose view has heard of an interaction with a frame of another origin since.
    std::map<std::uint64_t, std::string> topOrigins;
    std::set<std::uint64_t> foreignActivationSent;
};

ExtensionState& state()
{
    // Lives as long as the web process; never destroyed, so no teardown ordering with WebKit.
    static auto* s_state = new ExtensionState;
    return *s_state;
}

// What a native function installed in a context needs to know about where it lives.
struct ContextRef {
    std::uint64_t page = 0;
    std::uint64_t context = 0;
    int level = 0; // console functions only
};

std::string jsonOf(JSCValue* value)
{
    if (!value || jsc_value_is_undefined(value))
        return "null";
    GUnique<char> json(jsc_value_to_json(value, 0));
    if (!json) {
        // Not representable (a function, a cycle): the host sees null and logs what it can.
        JSCContext* context = jsc_value_get_context(value);
        jsc_context_clear_exception(context);
        return "null";
    }
    return json.get();
}

// Reads the first three elements of a page call's JSON (callback id, service, action) and stops:
// enough to answer a call too large to send without parsing all of it. Elements that are not
// plain values read as null.
class CallHeadReader : public nlohmann::json::json_sax_t {
public:
    std::vector<nlohmann::json> head;

    bool null() override { return value(nullptr); }
    bool boolean(bool v) override { return value(v); }
    bool number_integer(number_integer_t v) override { return value(v); }
    bool number_unsigned(number_unsigned_t v) override { return value(v); }
    bool number_float(number_float_t v, const string_t&) override { return value(v); }
    bool string(string_t& v) override { return value(v); }
    bool binary(binary_t&) override { return value(nullptr); }
    bool start_object(std::size_t) override { return open(); }
    bool key(string_t&) override { return true; }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool value(nlohmann::json v)
    {
        if (m_depth == 1)
            head.push_back(std::move(v));
        return head.size() < 3;
    }
    bool open()
    {
        if (m_depth++ == 1)
            head.emplace_back(nullptr);
        return true;
    }
    bool close()
    {
        --m_depth;
        return head.size() < 3 || m_depth > 1;
    }
    int m_depth = 0;
};

// `exec` as the page sees it: the four arguments become one JSON text in the page's own engine
// (far cheaper than handing each value to native code), then go to the host. Byte buffers among the
// arguments (ArrayBuffers and their views) are taken out first and travel as raw bytes, their places
// null in the text. The native senders, the JSON writer and the buffer types are captured when the
// context is set up, so the page can neither reach nor replace them. Arguments that cannot be written
// (cycles) travel as null and are refused there.
constexpr const char* kExecFactory = "(function (send, sendWithBytes, stringify, isArray, isView, AB, U8) {"
                                     "  function bytesOf(v) {"
                                     "    try { return v instanceof AB ? new U8(v) : new U8(v.buffer, v.byteOffset, v.byteLength); }"
                                     "    catch (e) { return new U8(0); }"
                                     "  }"
                                     "  function exec(callbackId, service, action, args) {"
                                     "    var call, places = null, buffers = null, copy, i, k, v;"
                                     "    if (isArray(args)) {"
                                     "      for (i = 0; i < args.length; i++) {"
                                     "        v = args[i];"
                                     "        if (!(v instanceof AB) && !isView(v)) continue;"
                                     "        if (!places) {"
                                     "          places = []; buffers = []; copy = [];"
                                     "          for (k = 0; k < args.length; k++) copy[k] = args[k];"
                                     "          args = copy;"
                                     "        }"
                                     "        places[places.length] = i;"
                                     "        buffers[buffers.length] = bytesOf(v);"
                                     "        args[i] = null;"
                                     "      }"
                                     "    }"
                                     "    try { call = stringify(places ? [callbackId, service, action, args, places] : [callbackId, service, action, args]); }"
                                     "    catch (e) {"
                                     "      places = null;"
                                     "      try { call = stringify([callbackId, service, action, null]); }"
                                     "      catch (e2) { call = '[null,null,null,null]'; }"
                                     "    }"
                                     "    if (places) sendWithBytes(call, buffers); else send(call);"
                                     "  }"
                                     "  exec.takesArrayBuffers = true;"
                                     "  return exec;"
                                     "})";

// Sends a page call: the JSON text the page's engine wrote and the bytes of the buffers it took
// out of the arguments, as they are. Blocks until the host's action has returned.
void sendCall(const ContextRef& ref, std::string_view text, const std::vector<std::string_view>& buffers)
{
    auto& channel = state().channel;
    std::size_t size = penwick::channel::execPayloadSize(text.size(), buffers);
    if (!penwick::channel::frameLength(size, channel.maxPayload())) {
        // No frame carries it: the host answers the call with an error instead, and the page goes on.
        CallHeadReader reader;
        try {
            (void)nlohmann::json::sax_parse(text, &reader);
        } catch (const std::exception&) {
        }
        reader.head.resize(3);
        penwick::channel::ExecTooLarge tooLarge { reader.head[0], reader.head[1], reader.head[2], size };
        (void)channel.call(FrameKind::ExecTooLarge, ref.page, ref.context, penwick::channel::encode(tooLarge), FrameKind::ExecDone);
        return;
    }
    // The payload's layout is ExecCall's (ChannelProtocol.h).
    auto headLength = static_cast<std::uint32_t>(text.size());
    if (buffers.empty()) {
        (void)channel.call(FrameKind::Exec, ref.page, ref.context,
            { std::string_view(reinterpret_cast<const char*>(&headLength), sizeof headLength), text }, FrameKind::ExecDone);
        return;
    }
    std::vector<std::uint64_t> sizes(buffers.size());
    std::vector<std::string_view> pieces;
    pieces.reserve(2 + 2 * buffers.size());
    pieces.emplace_back(reinterpret_cast<const char*>(&headLength), sizeof headLength);
    pieces.push_back(text);
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        sizes[i] = buffers[i].size();
        pieces.emplace_back(reinterpret_cast<const char*>(&sizes[i]), sizeof sizes[i]);
        pieces.push_back(buffers[i]);
    }
    (void)channel.call(FrameKind::Exec, ref.page, ref.context, pieces, FrameKind::ExecDone);
}

void execCall(const char* call, gpointer data)
{
    sendCall(*static_cast<ContextRef*>(data), call ? call : "null", {});
}

// A call whose arguments held byte buffers: (text, [Uint8Array...]). Their bytes are read where
// the engine keeps them; no script runs until the call has been sent.
void execCallWithBytes(GPtrArray* args, gpointer data)
{
    auto* ref = static_cast<ContextRef*>(data);
    JSCValue* textValue = args->len > 0 ? static_cast<JSCValue*>(g_ptr_array_index(args, 0)) : nullptr;
    JSCValue* list = args->len > 1 ? static_cast<JSCValue*>(g_ptr_array_index(args, 1)) : nullptr;
    GUnique<char> text(textValue && jsc_value_is_string(textValue) ? jsc_value_to_string(textValue) : nullptr);
    std::vector<GRef<JSCValue>> views;
    std::vector<std::string_view> buffers;
    if (list && jsc_value_is_array(list)) {
        GRef<JSCValue> lengthValue = adopt(jsc_value_object_get_property(list, "length"));
        auto length = lengthValue ? jsc_value_to_int32(lengthValue.get()) : 0;
        for (gint32 i = 0; i < length; ++i) {
            GRef<JSCValue> view = adopt(jsc_value_object_get_property_at_index(list, static_cast<guint>(i)));
            gsize size = view && jsc_value_is_typed_array(view.get()) ? jsc_value_typed_array_get_size(view.get()) : 0;
            void* bytes = size ? jsc_value_typed_array_get_data(view.get(), nullptr) : nullptr;
            buffers.emplace_back(bytes ? static_cast<const char*>(bytes) : "", bytes ? size : 0);
            views.push_back(std::move(view));
        }
    }
    if (JSCContext* context = jsc_context_get_current())
        jsc_context_clear_exception(context);
    sendCall(*ref, text ? std::string_view(text.get()) : std::string_view("null"), buffers);
}

void consoleCall(GPtrArray* args, gpointer data)
{
    auto* ref = static_cast<ContextRef*>(data);
    JSCValue* value = args->len ? static_cast<JSCValue*>(g_ptr_array_index(args, 0)) : nullptr;
    penwick::channel::ConsoleCall line { static_cast<std::size_t>(ref->level), std::nullopt };
    if (value && jsc_value_is_string(value)) {
        GUnique<char> text(jsc_value_to_string(value));
        line.value = nlohmann::json(std::string(text ? text.get() : ""));
    } else if (value && !jsc_value_is_undefined(value)) {
        // The engine writes the value as JSON; what it cannot write travels as null. A lone
        // surrogate reads as U+FFFD, as in page calls.
        std::string json = jsonOf(value);
        auto repaired = penwick::jsonWithLoneSurrogatesReplaced(json);
        line.value = nlohmann::json::parse(repaired ? *repaired : json, nullptr, false);
        if (line.value->is_discarded())
            line.value = nullptr;
    }
    std::string payload = penwick::channel::encode(line);
    auto& channel = state().channel;
    if (!penwick::channel::frameLength(payload.size(), channel.maxPayload())) {
        payload = penwick::channel::encode(penwick::channel::ConsoleCall { static_cast<std::size_t>(ref->level),
            nlohmann::json(std::to_string(payload.size()) + " bytes of console output, more than the page channel carries") });
    }
    (void)channel.post(FrameKind::Console, ref->page, ref->context, payload);
}

GRef<JSCValue> nativeFunction(JSCContext* context, const char* name, GCallback callback, const ContextRef& ref)
{
    return adopt(jsc_value_new_function_variadic(context, name, callback, new ContextRef(ref),
        +[](gpointer p) { delete static_cast<ContextRef*>(p); }, G_TYPE_NONE));
}

void evaluateIgnoringResult(JSCContext* context, const std::string& script)
{
    GRef<JSCValue> result = adopt(jsc_context_evaluate(context, script.data(), static_cast<gssize>(script.size())));
    jsc_context_clear_exception(context);
}

// Runs `script` in the context when its window has finished loading.
void addLoadListener(JSCContext* context, const std::string& script)
{
    GRef<JSCValue> window = adopt(jsc_context_get_global_object(context));
    GRef<JSCValue> addEventListener = adopt(jsc_value_object_get_property(window.get(), "addEventListener"));
    if (!jsc_value_is_function(addEventListener.get()))
        return;
    auto* text = new std::string(script);
    GRef<JSCValue> listener = adopt(jsc_value_new_function_variadic(context, nullptr,
        G_CALLBACK(+[](GPtrArray*, gpointer data) {
            JSCContext* current = jsc_context_get_current();
            if (current)
                evaluateIgnoringResult(current, *static_cast<std::string*>(data));
        }),
        text, +[](gpointer p) { delete static_cast<std::string*>(p); }, G_TYPE_NONE));
    GRef<JSCValue> type = adopt(jsc_value_new_string(context, "load"));
    // Called on the window itself, as `window.addEventListener('load', ...)` would be.
    GRef<JSCValue> added = adopt(jsc_value_object_invoke_method(window.get(), "addEventListener", JSC_TYPE_VALUE,
        type.get(), JSC_TYPE_VALUE, listener.get(), G_TYPE_NONE));
    jsc_context_clear_exception(context);
}

// The page's console (see ConsoleScript.h) over the six native line writers.
GRef<JSCValue> makeConsole(JSCContext* context, const ContextRef& ref)
{
    GRef<JSCValue> writers[6];
    for (int level = 0; level < 6; ++level) {
        ContextRef levelRef = ref;
        levelRef.level = level;
        writers[level] = nativeFunction(context, channel::kConsoleLevels[level], G_CALLBACK(consoleCall), levelRef);
    }
    GRef<JSCValue> window = adopt(jsc_context_get_global_object(context));
    GRef<JSCValue> json = adopt(jsc_value_object_get_property(window.get(), "JSON"));
    GRef<JSCValue> stringify = adopt(jsc_value_object_get_property(json.get(), "stringify"));
    GRef<JSCValue> clock = adopt(jsc_context_evaluate(context,
        "(function (p) { return p && p.now ? function () { return p.now(); } : Date.now; })(self.performance)", -1));
    GRef<JSCValue> factory = adopt(jsc_context_evaluate(context, kConsoleFactory, -1));
    GRef<JSCValue> console;
    if (factory && jsc_value_is_function(factory.get()))
        console = adopt(jsc_value_function_call(factory.get(), JSC_TYPE_VALUE, writers[0].get(), JSC_TYPE_VALUE, writers[1].get(),
            JSC_TYPE_VALUE, writers[2].get(), JSC_TYPE_VALUE, writers[3].get(), JSC_TYPE_VALUE, writers[4].get(), JSC_TYPE_VALUE,
            writers[5].get(), JSC_TYPE_VALUE, stringify.get(), JSC_TYPE_VALUE, clock.get(), G_TYPE_NONE));
    jsc_context_clear_exception(context);
    if (console && jsc_value_is_object(console.get()))
        return console;
    // Never expected; the six writers alone still keep the page's lines.
    console = adopt(jsc_value_new_object(context, nullptr, nullptr));
    for (int level = 0; level < 6; ++level)
        jsc_value_object_set_property(console.get(), channel::kConsoleLevels[level], writers[level].get());
    return console;
}

void installInContext(JSCContext* context, const ContextRef& ref, const penwick::channel::ContextSetup& setup)
{
    GRef<JSCValue> window = adopt(jsc_context_get_global_object(context));
    if (setup.console) {
        if (GRef<JSCValue> console = makeConsole(context, ref))
            jsc_value_object_set_property(window.get(), "console", console.get());
    }
    if (setup.bridge)
        evaluateIgnoringResult(context, kEngineGapsScript);
    if (setup.bridge || state().bridgeEverywhere) {
        // The page reaches exactly one member: exec.
        GRef<JSCValue> bridge = adopt(jsc_value_new_object(context, nullptr, nullptr));
        GRef<JSCValue> send = adopt(jsc_value_new_function(context, nullptr, G_CALLBACK(execCall), new ContextRef(ref),
            +[](gpointer p) { delete static_cast<ContextRef*>(p); }, G_TYPE_NONE, 1, G_TYPE_STRING));
        GRef<JSCValue> sendWithBytes = nativeFunction(context, nullptr, G_CALLBACK(execCallWithBytes), ref);
        GRef<JSCValue> json = adopt(jsc_value_object_get_property(window.get(), "JSON"));
        GRef<JSCValue> stringify = adopt(jsc_value_object_get_property(json.get(), "stringify"));
        GRef<JSCValue> array = adopt(jsc_value_object_get_property(window.get(), "Array"));
        GRef<JSCValue> isArray = adopt(jsc_value_object_get_property(array.get(), "isArray"));
        GRef<JSCValue> arrayBuffer = adopt(jsc_value_object_get_property(window.get(), "ArrayBuffer"));
        GRef<JSCValue> isView = adopt(jsc_value_object_get_property(arrayBuffer.get(), "isView"));
        GRef<JSCValue> uint8Array = adopt(jsc_value_object_get_property(window.get(), "Uint8Array"));
        GRef<JSCValue> factory = adopt(jsc_context_evaluate(context, kExecFactory, -1));
        GRef<JSCValue> exec = adopt(jsc_value_function_call(factory.get(), JSC_TYPE_VALUE, send.get(), JSC_TYPE_VALUE,
            sendWithBytes.get(), JSC_TYPE_VALUE, stringify.get(), JSC_TYPE_VALUE, isArray.get(), JSC_TYPE_VALUE, isView.get(),
            JSC_TYPE_VALUE, arrayBuffer.get(), JSC_TYPE_VALUE, uint8Array.get(), G_TYPE_NONE));
        jsc_context_clear_exception(context);
        if (exec && jsc_value_is_function(exec.get())) {
            jsc_value_object_define_property_data(bridge.get(), "exec", JSC_VALUE_PROPERTY_ENUMERABLE, exec.get());
            jsc_value_object_set_property(window.get(), "hostbridge", bridge.get());
        }
    }
    for (const auto& script : setup.setup)
        evaluateIgnoringResult(context, script);
    if (setup.load)
        addLoadListener(context, *setup.load);
}

// Tells the host when a frame goes away (the engine releases a frame's wrapper with the frame), so
// that it forgets the frame's script context. Once per frame.
void watchFrame(WebKitFrame* frame, std::uint64_t pageId)
{
    static GQuark s_watched = g_quark_from_static_string("penwick-watched");
    if (g_object_get_qdata(G_OBJECT(frame), s_watched))
        return;
    g_object_set_qdata(G_OBJECT(frame), s_watched, GINT_TO_POINTER(1));
    struct Gone {
        std::uint64_t page;
        std::uint64_t frame;
    };
    state().frames[webkit_frame_get_id(frame)] = ExtensionState::TrackedFrame { frame, pageId, 0 };
    g_object_weak_ref(G_OBJECT(frame),
        +[](gpointer data, GObject*) {
            std::unique_ptr<Gone> gone(static_cast<Gone*>(data));
            auto& s = state();
            if (auto it = s.frames.find(gone->frame); it != s.frames.end()) {
                s.contextFrames.erase(it->second.context);
                s.frames.erase(it);
            }
            (void)s.channel.post(FrameKind::FrameGone, gone->page, 0,
                penwick::channel::encode(penwick::channel::FrameGone { gone->frame }));
        },
        new Gone { pageId, webkit_frame_get_id(frame) });
}

// The frame's current document has the host's context `context` from now on.
void setFrameContext(WebKitFrame* frame, std::uint64_t context)
{
    auto& s = state();
    auto it = s.frames.find(webkit_frame_get_id(frame));
    if (it == s.frames.end())
        return;
    s.contextFrames.erase(it->second.context);
    it->second.context = context;
    if (context)
        s.contextFrames[context] = it->first;
}

// The host's context id of the parent frame's current document, or 0. The parent is found by the
// identity of window objects, which page script cannot forge: the frame's fresh `parent` (no script
// of the frame has run yet, and a parent of another origin cannot reach it) is compared with the
// global object of each live frame of the page. Identity needs no access, so this holds across
// origins (an app page of file: framing a whfile: document) and reads nothing a page wrote.
std::uint64_t parentContext(JSCContext* context, std::uint64_t pageId, WebKitFrame* frame)
{
    GRef<JSCValue> global = adopt(jsc_context_get_global_object(context));
    GRef<JSCValue> parent = adopt(jsc_value_object_get_property(global.get(), "parent"));
    GRef<JSCValue> same = adopt(jsc_context_evaluate(context, "(function (a, b) { return a === b; })", -1));
    jsc_context_clear_exception(context);
    if (!parent || !jsc_value_is_object(parent.get()) || !same || !jsc_value_is_function(same.get()))
        return 0;
    for (const auto& [id, tracked] : state().frames) {
        if (tracked.page != pageId || tracked.frame == frame || tracked.context == 0)
            continue;
        GRef<JSCContext> candidate = adopt(webkit_frame_get_js_context(tracked.frame));
        if (!candidate)
            continue;
        GRef<JSCValue> candidateGlobal = adopt(jsc_context_get_global_object(candidate.get()));
        GRef<JSCValue> result = adopt(jsc_value_function_call(same.get(), JSC_TYPE_VALUE, parent.get(), JSC_TYPE_VALUE,
            candidateGlobal.get(), G_TYPE_NONE));
        jsc_context_clear_exception(context);
        if (result && jsc_value_to_boolean(result.get()))
            return tracked.context;
    }
    return 0;
}

// The URL of the parent document whose origin a fresh "about:" document shares, or "" when it has
// an origin of its own (sandboxed) or the parent is out of its reach. Runs before any script of the
// frame, so the frame's own `origin` and `parent` are the engine's; the parent's `location` cannot
// be replaced by its page.
std::string ownerURL(JSCContext* context)
{
    static constexpr const char* kOwner = "(function () {"
                                          "  try {"
                                          "    if (self.origin === 'null' || self.parent === self) return '';"
                                          "    var href = self.parent.location.href;"
                                          "    return typeof href === 'string' ? href : '';"
                                          "  } catch (e) { return ''; }"
                                          "})()";
    GRef<JSCValue> value = adopt(jsc_context_evaluate(context, kOwner, -1));
    jsc_context_clear_exception(context);
    if (!value || !jsc_value_is_string(value.get()))
        return {};
    GUnique<char> text(jsc_value_to_string(value.get()));
    return text ? text.get() : "";
}

// True when the fresh document's origin is opaque: sandboxed, or a data: URL. (The app's own file:
// pages read their folder, and their origin then is "file://".)
bool hasOpaqueOrigin(JSCContext* context)
{
    GRef<JSCValue> value = adopt(jsc_context_evaluate(context, "self.origin === 'null'", -1));
    jsc_context_clear_exception(context);
    return value && jsc_value_to_boolean(value.get());
}

// Tells the page's web view that this process hosts the page. The engine carries the message from
// the process that hosts the page only, so the host learns which process's token may speak for it.
void claimPage(WebKitWebPage* page)
{
    webkit_web_page_send_message_to_view(page,
        webkit_user_message_new(penwick::channel::kPageClaimMessage, g_variant_new(penwick::channel::kPageClaimType, state().credential.c_str())),
        nullptr, nullptr, nullptr);
}

// The document's origin as the engine gives it, read before any script of the page runs (which may
// replace `self.origin`).
std::string originOf(JSCContext* context)
{
    GRef<JSCValue> value = adopt(jsc_context_evaluate(context, "self.origin", -1));
    jsc_context_clear_exception(context);
    if (!value || !jsc_value_is_string(value.get()))
        return "null";
    GUnique<char> text(jsc_value_to_string(value.get()));
    return text ? text.get() : "null";
}

// The user has interacted with a frame of another origin than the main frame's document: its web
// view hears of it (kForeignActivationMessage), once for each main-frame document.
void reportForeignActivation(GPtrArray*, gpointer data)
{
    auto& s = state();
    std::uint64_t pageId = static_cast<ContextRef*>(data)->page;
    if (!s.foreignActivationSent.insert(pageId).second)
        return;
    if (WebKitWebPage* page = webkit_web_extension_get_page(s.extension, pageId))
        webkit_web_page_send_message_to_view(page, webkit_user_message_new(penwick::channel::kForeignActivationMessage, nullptr),
            nullptr, nullptr, nullptr);
}

// Watches a frame of another origin than the main frame's document for the user's first trusted
// input. Installed before the page's own script, on the window in the capture phase, so it runs
// before any handler of the page (which could navigate the main frame in response).
void watchForeignActivation(JSCContext* context, const ContextRef& ref)
{
    static constexpr const char* kWatch = "(function (report) {"
                                          "  var seen = false;"
                                          "  function on(e) { if (!seen && e.isTrusted) { seen = true; report(); } }"
                                          "  ['pointerdown', 'mousedown', 'touchstart', 'keydown', 'click'].forEach(function (t) {"
                                          "    addEventListener(t, on, true);"
                                          "  });"
                                          "})";
    GRef<JSCValue> report = nativeFunction(context, nullptr, G_CALLBACK(reportForeignActivation), ref);
    GRef<JSCValue> watch = adopt(jsc_context_evaluate(context, kWatch, -1));
    if (watch && jsc_value_is_function(watch.get()))
        GRef<JSCValue> done = adopt(jsc_value_function_call(watch.get(), JSC_TYPE_VALUE, report.get(), G_TYPE_NONE));
    jsc_context_clear_exception(context);
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer)
{
    auto& s = state();
    if (!s.channel.isOpen())
        return;
    // Again for each main-frame document: a page this process hosted before may be its again.
    if (webkit_frame_is_main_frame(frame))
        claimPage(page);
    ContextRef ref;
    ref.page = webkit_web_page_get_id(page);
    const char* uri = webkit_frame_get_uri(frame);
    bool main = webkit_frame_is_main_frame(frame);
    penwick::channel::NewContext notice { webkit_frame_get_id(frame), main, uri ? uri : "", {} };
    GRef<JSCContext> context = adopt(webkit_frame_get_js_context_for_script_world(frame, world));
    if (context)
        notice.opaque = hasOpaqueOrigin(context.get());
    if (!main && context && g_str_has_prefix(notice.url.c_str(), "about:"))
        notice.owner = ownerURL(context.get());
    if (context && main) {
        s.topOrigins[ref.page] = originOf(context.get());
        s.foreignActivationSent.erase(ref.page);
    } else if (context && originOf(context.get()) != s.topOrigins[ref.page]) {
        watchForeignActivation(context.get(), ref);
    }
    watchFrame(frame, ref.page);
    // The frame's previous document is gone: answers for it are dropped from now on.
    setFrameContext(frame, 0);
    if (!main && context)
        notice.parent = parentContext(context.get(), ref.page, frame);
    auto answer = s.channel.call(FrameKind::NewContext, ref.page, 0, penwick::channel::encode(notice), FrameKind::ContextSetup);
    if (!answer || answer->context == 0)
        return;
    ref.context = answer->context;
    setFrameContext(frame, ref.context);
    auto setup = penwick::channel::decode<penwick::channel::ContextSetup>(answer->payload);
    if (!setup) {
        penwick::log::warning(penwick::format("penwick web process %@: %@; the frame gets no bridge", getpid(), setup.error().message));
        return;
    }
    if (context)
        installInContext(context.get(), ref, *setup);
}

void onConsoleMessage(WebKitWebPage* page, WebKitConsoleMessage* message, gpointer)
{
    const char* source = webkit_console_message_get_source_id(message);
    const char* text = webkit_console_message_get_text(message);
    // Indexes of the channel's console levels: log, debug, info, warn, error.
    std::size_t level = 0;
    switch (webkit_console_message_get_level(message)) {
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_DEBUG:
        level = 2;
        break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_INFO:
        level = 3;
        break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_WARNING:
        level = 4;
        break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_ERROR:
        level = 5;
        break;
    default:
        break;
    }
    penwick::channel::EngineConsole payload { source ? source : "", webkit_console_message_get_line(message), text ? text : "", level };
    (void)state().channel.post(FrameKind::EngineConsole, webkit_web_page_get_id(page), 0, penwick::channel::encode(payload));
}

// Runs the host's scripts in the page's main frame (or the document an answer is for), in order, as
// independently as separate evaluations would: one script's error does not stop the next. A run of scripts is evaluated as
// one text, each in its own try block, which saves the engine's per-evaluation cost; if that text
// does not parse (one script is malformed), nothing of it has run and each goes alone instead.
GRef<JSCContext> mainFrameContext(std::uint64_t pageId)
{
    WebKitWebPage* page = webkit_web_extension_get_page(state().extension, pageId);
    if (!page)
        return {};
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    WebKitFrame* frame = webkit_web_page_get_main_frame(page);
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (!frame)
        return {};
    return adopt(webkit_frame_get_js_context(frame));
}

// The script context of the document whose call an answer answers; none (and one line per such
// document) when that document is gone, so the answer never runs in the one that replaced it.
GRef<JSCContext> answerContext(std::uint64_t pageId, std::uint64_t contextId)
{
    if (contextId == 0)
        return mainFrameContext(pageId);
    auto& s = state();
    auto it = s.contextFrames.find(contextId);
    auto frame = it == s.contextFrames.end() ? s.frames.end() : s.frames.find(it->second);
    if (frame != s.frames.end() && frame->second.page == pageId && frame->second.context == contextId)
        return adopt(webkit_frame_get_js_context(frame->second.frame));
    if (s.lastDroppedContext != contextId) {
        s.lastDroppedContext = contextId;
        penwick::log::message(penwick::format("penwick web process %@: dropped the answers for a document that is gone (script context %@)",
            getpid(), contextId));
    }
    return {};
}

void evaluateInMainFrame(std::uint64_t pageId, std::uint64_t contextId, const std::vector<std::string>& scripts)
{
    GRef<JSCContext> context = answerContext(pageId, contextId);
    if (!context)
        return;
    // Promise reactions the scripts queue run as the engine releases its lock, right here.
    if (scripts.size() == 1) {
        evaluateIgnoringResult(context.get(), scripts.front());
        return;
    }
    std::string batch;
    size_t size = 0;
    for (const auto& script : scripts)
        size += script.size() + 16;
    batch.reserve(size);
    for (const auto& script : scripts) {
        batch += "try{\n";
        batch += script;
        batch += "\n}catch(e){}\n";
    }
    GRef<JSCValue> result = adopt(jsc_context_evaluate(context.get(), batch.data(), static_cast<gssize>(batch.size())));
    JSCException* exception = jsc_context_get_exception(context.get());
    bool unparsable = exception && g_strcmp0(jsc_exception_get_name(exception), "SyntaxError") == 0;
    jsc_context_clear_exception(context.get());
    if (unparsable) {
        for (const auto& script : scripts)
            evaluateIgnoringResult(context.get(), script);
    }
}

// What a page's documents may read through file: URLs. Files the engine would hand to any file:
// document once the app's pages may read their folder stay out of reach: only the web content
// folder (or the whole disk, when the app chose that) remains. The host announces each main-frame
// navigation before its request goes out; the announced document's own URL passes once, and its
// reach applies once it is shown.
struct FileReach {
    std::vector<std::string> folders; // none restricts nothing (the engine's own rules hold)
    std::string documentURL;
    std::string pendingURL;
    std::vector<std::string> pendingFolders;
};

std::map<std::uint64_t, FileReach>& fileReaches()
{
    static auto* s_reaches = new std::map<std::uint64_t, FileReach>;
    return *s_reaches;
}

// Links are followed as the file plugin follows them: only where they stay in the folders. The
// engine opens the path again after this look, so a link swapped in between is not caught here;
// the file plugin's own actions and whfile: URLs are the race-free way to these files.
bool leadsOutOfFolders(const std::string& path, const std::vector<std::string>& folders)
{
    std::string within;
    for (const auto& folder : folders) {
        if (folder == "/")
            return false;
        if (penwick::FileURLPath::isInside(path, folder) && folder.size() > within.size())
            within = folder;
    }
    if (within.empty())
        return true;
    std::vector<std::string> roots { within };
    roots.insert(roots.end(), folders.begin(), folders.end());
    auto opened = penwick::BeneathResolver(std::move(roots)).open(path.substr(within.size()), O_PATH);
    return !opened && (opened.error().code == EXDEV || opened.error().code == ELOOP);
}

std::string withoutFragment(std::string_view url) { return std::string(url.substr(0, url.find('#'))); }

gboolean onSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer)
{
    const char* uri = webkit_uri_request_get_uri(request);
    auto it = fileReaches().find(webkit_web_page_get_id(page));
    if (!uri || it == fileReaches().end() || it->second.folders.empty() || g_ascii_strncasecmp(uri, "file:", 5) != 0)
        return FALSE;
    FileReach& reach = it->second;
    if (!reach.pendingURL.empty() && withoutFragment(uri) == reach.pendingURL) {
        reach.pendingURL.clear();
        return FALSE;
    }
    auto path = penwick::FileURLPath::localPath(uri);
    if (path && penwick::FileURLPath::isInsideAny(*path, reach.folders)) {
        if (!leadsOutOfFolders(*path, reach.folders))
            return FALSE;
        penwick::log::message(penwick::format("penwick web process %@: refused to load %@: a link in it leads out of the app's folders", getpid(),
            penwick::log::withoutQueryValues(uri)));
        return TRUE;
    }
    penwick::log::message(penwick::format("penwick web process %@: refused to load %@: outside the app's web content folder", getpid(),
        penwick::log::withoutQueryValues(uri)));
    return TRUE;
}

// The main frame shows a new document: the reach announced for it applies from now on.
void onMainDocument(WebKitScriptWorld*, WebKitWebPage* page, WebKitFrame* frame, gpointer)
{
    if (!webkit_frame_is_main_frame(frame))
        return;
    FileReach& reach = fileReaches()[webkit_web_page_get_id(page)];
    const char* uri = webkit_frame_get_uri(frame);
    reach.documentURL = withoutFragment(uri ? uri : "");
    if (reach.documentURL == reach.pendingURL) {
        reach.folders = reach.pendingFolders;
        reach.pendingURL.clear();
    }
}

gboolean onUserMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer)
{
    if (g_strcmp0(webkit_user_message_get_name(message), penwick::channel::kFileReachMessage) != 0)
        return FALSE;
    GVariant* parameters = webkit_user_message_get_parameters(message);
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE(penwick::channel::kFileReachType)))
        return TRUE;
    const char* url = nullptr;
    GVariantIter* iter = nullptr;
    g_variant_get(parameters, "(&sas)", &url, &iter);
    std::vector<std::string> folders;
    const char* folder = nullptr;
    while (g_variant_iter_next(iter, "&s", &folder))
        folders.emplace_back(folder);
    g_variant_iter_free(iter);
    FileReach& reach = fileReaches()[webkit_web_page_get_id(page)];
    // Announced again once shown (the navigation may have come to this web process from another).
    if (withoutFragment(url) == reach.documentURL) {
        reach.folders = std::move(folders);
        return TRUE;
    }
    reach.pendingURL = withoutFragment(url);
    reach.pendingFolders = std::move(folders);
    return TRUE;
}

// The page's value for a message: byte buffers become ArrayBuffers holding the frame's bytes when
// the page's library takes them (`rawBuffers`), else the ArrayBuffer markers its script form holds.
GRef<JSCValue> pageValue(JSCContext* context, const Value& value, bool rawBuffers)
{
    switch (value.type()) {
    case Value::value_t::boolean:
        return adopt(jsc_value_new_boolean(context, value.get<bool>()));
    case Value::value_t::number_integer:
        return adopt(jsc_value_new_number(context, static_cast<double>(value.get<std::int64_t>())));
    case Value::value_t::number_unsigned:
        return adopt(jsc_value_new_number(context, static_cast<double>(value.get<std::uint64_t>())));
    case Value::value_t::number_float: {
        double number = value.get<double>();
        // As in the script form, where a number that is not finite is written null.
        return adopt(std::isfinite(number) ? jsc_value_new_number(context, number) : jsc_value_new_null(context));
    }
    case Value::value_t::string: {
        const auto& text = value.get_ref<const std::string&>();
        GUnique<GBytes> bytes(g_bytes_new(text.data(), text.size()));
        return adopt(jsc_value_new_string_from_bytes(context, bytes.get()));
    }
    case Value::value_t::binary: {
        const Bytes& bytes = value.get_binary();
        if (rawBuffers) {
            // Copied into the engine's own memory: a buffer over memory of ours would have the
            // engine turn off its memory cage for buffers, which the web process forbids (it aborts).
            GRef<JSCValue> view = adopt(jsc_value_new_typed_array(context, JSC_TYPED_ARRAY_UINT8, bytes.size()));
            gsize length = 0;
            void* data = view ? jsc_value_typed_array_get_data(view.get(), &length) : nullptr;
            if (!view || length != bytes.size() || (!data && length)) {
                jsc_context_clear_exception(context);
                return adopt(jsc_value_new_null(context));
            }
            if (length)
                std::memcpy(data, bytes.data(), length);
            return adopt(jsc_value_typed_array_get_buffer(view.get()));
        }
        GUnique<char> base64(g_base64_encode(bytes.data(), bytes.size()));
        Value marker { { "WHType", "ArrayBuffer" }, { "data", std::string(base64.get()) } };
        return pageValue(context, marker, rawBuffers);
    }
    case Value::value_t::array: {
        GRef<JSCValue> array = adopt(jsc_value_new_array(context, G_TYPE_NONE));
        const auto& items = value.get_ref<const ValueArray&>();
        for (std::size_t i = 0; i < items.size(); ++i) {
            GRef<JSCValue> item = pageValue(context, items[i], rawBuffers);
            jsc_value_object_set_property_at_index(array.get(), static_cast<guint>(i), item.get());
        }
        return array;
    }
    case Value::value_t::object: {
        GRef<JSCValue> object = adopt(jsc_value_new_object(context, nullptr, nullptr));
        for (const auto& [key, member] : value.get_ref<const ValueObject&>()) {
            GRef<JSCValue> item = pageValue(context, member, rawBuffers);
            // Own data properties, as a parsed object literal has (a "__proto__" key stays a key).
            jsc_value_object_define_property_data(object.get(), key.c_str(),
                static_cast<JSCValuePropertyFlags>(JSC_VALUE_PROPERTY_CONFIGURABLE | JSC_VALUE_PROPERTY_ENUMERABLE | JSC_VALUE_PROPERTY_WRITABLE),
                item.get());
        }
        return object;
    }
    default:
        return adopt(jsc_value_new_null(context));
    }
}

// An answer whose byte buffers came as raw bytes: the page library's native callback is called with
// the same four values its script form would give it. The callback's function says with a true
// `takesArrayBuffers` that it takes ArrayBuffers; any other library gets the ArrayBuffer markers.
void runNativeCallback(std::uint64_t pageId, std::uint64_t contextId, std::string_view payload)
{
    auto call = penwick::channel::decode<penwick::channel::NativeCallback>(payload);
    if (!call) {
        penwick::log::warning(penwick::format("penwick web process %@: %@; the answer was dropped", getpid(), call.error().message));
        return;
    }
    GRef<JSCContext> context = answerContext(pageId, contextId);
    if (!context)
        return;
    // The object the host's callback expression names.
    GRef<JSCValue> exec = adopt(jsc_context_evaluate(context.get(), "webhost.require('webhost/exec')", -1));
    if (jsc_context_get_exception(context.get()) || !exec || !jsc_value_is_object(exec.get())) {
        jsc_context_clear_exception(context.get());
        return;
    }
    GRef<JSCValue> callback = adopt(jsc_value_object_get_property(exec.get(), "nativeCallback"));
    if (!callback || !jsc_value_is_function(callback.get())) {
        jsc_context_clear_exception(context.get());
        return;
    }
    GRef<JSCValue> takes = adopt(jsc_value_object_get_property(callback.get(), "takesArrayBuffers"));
    bool rawBuffers = takes && jsc_value_is_boolean(takes.get()) && jsc_value_to_boolean(takes.get());
    GUnique<GBytes> idBytes(g_bytes_new(call->callbackId.data(), call->callbackId.size()));
    GRef<JSCValue> callbackId = adopt(jsc_value_new_string_from_bytes(context.get(), idBytes.get()));
    GRef<JSCValue> message = pageValue(context.get(), call->message, rawBuffers);
    GRef<JSCValue> result = adopt(jsc_value_object_invoke_method(exec.get(), "nativeCallback", JSC_TYPE_VALUE, callbackId.get(),
        G_TYPE_INT, static_cast<gint>(call->status), JSC_TYPE_VALUE, message.get(), G_TYPE_INT, call->keepCallback ? 1 : 0,
        G_TYPE_NONE));
    jsc_context_clear_exception(context.get());
}

// Answers whose messages are JSON text reach the page library's native callback from one loop in
// the page, as their script forms would one by one: a callback that throws keeps none of the others
// from running. `webhost` is looked up for every answer, as the script form does.
constexpr const char* kAnswerLoop = "(function (list) {"
                                    "  for (var i = 0; i < list.length; i++) {"
                                    "    var a = list[i];"
                                    "    try { webhost.require('webhost/exec').nativeCallback(a[0], a[1], a[2], a[3]); } catch (e) {}"
                                    "  }"
                                    "})";

// [callbackId, status, message, keep] as JSON text, with `message` in place of the answer's own.
void appendAnswer(std::string& out, const penwick::channel::CallbackAnswer& answer, std::string_view message)
{
    out += '[';
    out += nlohmann::json(answer.callbackId).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out += ',';
    out += std::to_string(answer.status);
    out += ',';
    out += message;
    out += answer.keepCallback ? ",1]" : ",0]";
}

// The answers, read by the page's own JSON reader all at once. Should one not read as JSON, each
// is read on its own, and that one's callback gets null (as the host does for a message it cannot write).
GRef<JSCValue> answerList(JSCContext* context, const std::vector<penwick::channel::CallbackAnswer>& answers)
{
    std::string text = "[";
    for (const auto& answer : answers) {
        if (text.size() > 1)
            text += ',';
        appendAnswer(text, answer, answer.messageJson);
    }
    text += ']';
    GRef<JSCValue> list = adopt(jsc_value_new_from_json(context, text.c_str()));
    if (list && !jsc_context_get_exception(context))
        return list;
    jsc_context_clear_exception(context);
    list = adopt(jsc_value_new_array(context, G_TYPE_NONE));
    for (std::size_t i = 0; i < answers.size(); ++i) {
        std::string one;
        appendAnswer(one, answers[i], answers[i].messageJson);
        GRef<JSCValue> item = adopt(jsc_value_new_from_json(context, one.c_str()));
        if (!item || jsc_context_get_exception(context)) {
            jsc_context_clear_exception(context);
            penwick::log::warning(penwick::format("penwick web process %@: the answer for callback %@ is not JSON; the callback gets null",
                getpid(), answers[i].callbackId));
            one.clear();
            appendAnswer(one, answers[i], "null");
            item = adopt(jsc_value_new_from_json(context, one.c_str()));
        }
        jsc_value_object_set_property_at_index(list.get(), static_cast<guint>(i), item.get());
    }
    return list;
}

void runAnswers(std::uint64_t pageId, std::uint64_t contextId, const std::vector<std::string>& payloads)
{
    GRef<JSCContext> context = answerContext(pageId, contextId);
    if (!context)
        return;
    std::vector<penwick::channel::CallbackAnswer> answers;
    answers.reserve(payloads.size());
    for (const auto& payload : payloads) {
        auto answer = penwick::channel::decode<penwick::channel::CallbackAnswer>(payload);
        if (answer)
            answers.push_back(std::move(*answer));
        else
            penwick::log::warning(penwick::format("penwick web process %@: %@; the answer was dropped", getpid(), answer.error().message));
    }
    if (answers.empty())
        return;
    GRef<JSCValue> list = answerList(context.get(), answers);
    GRef<JSCValue> loop = adopt(jsc_context_evaluate(context.get(), kAnswerLoop, -1));
    if (list && loop && jsc_value_is_function(loop.get()))
        GRef<JSCValue> done = adopt(jsc_value_function_call(loop.get(), JSC_TYPE_VALUE, list.get(), G_TYPE_NONE));
    jsc_context_clear_exception(context.get());
}

} // namespace
} // namespace penwick::webext

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
    const GVariant* userData)
{
    using namespace penwick::webext;
    auto& s = state();
    s.extension = extension;
    guint32 version = 0;
    guint32 maxPayload = 0;
    const char* path = nullptr;
    const char* token = nullptr;
    if (!userData || !g_variant_is_of_type(const_cast<GVariant*>(userData), G_VARIANT_TYPE(penwick::channel::kInitDataType))) {
        penwick::log::warning("penwick web process: started without the host's channel address; pages get no bridge");
        return;
    }
    g_variant_get(const_cast<GVariant*>(userData), penwick::channel::kInitDataType, &version, &path, &token, &maxPayload);
    std::unique_ptr<char, decltype(&g_free)> pathOwner(const_cast<char*>(path), g_free), tokenOwner(const_cast<char*>(token), g_free);
    if (version != penwick::channel::kVersion) {
        penwick::log::warning(penwick::format("penwick web process: the host speaks channel version %@, this extension %@; pages get no bridge",
            version, penwick::channel::kVersion));
        return;
    }
    s.channel.setMaxPayload(maxPayload);
    s.credential = token;
    penwick::channel::keepFrameBuffersInHeap();
    s.bridgeEverywhere = g_getenv("PENWICK_TEST_DISOBEYING_WEB_PROCESS") != nullptr;
    std::string error;
    if (!s.channel.open(path, token, error)) {
        penwick::log::warning(penwick::format("penwick web process: cannot reach the host at %@: %@; pages get no bridge", path, error));
        return;
    }
    s.channel.setEvaluator(evaluateInMainFrame);
    s.channel.setCallbackRunner(runNativeCallback);
    s.channel.setAnswerRunner(runAnswers);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowObjectCleared), nullptr);
    g_signal_connect(extension, "page-created", G_CALLBACK(+[](WebKitWebExtension*, WebKitWebPage* page, gpointer) {
        claimPage(page);
        g_signal_connect(page, "console-message-sent", G_CALLBACK(onConsoleMessage), nullptr);
    }),
        nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onMainDocument), nullptr);
    g_signal_connect(extension, "page-created", G_CALLBACK(+[](WebKitWebExtension*, WebKitWebPage* page, gpointer) {
        g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
        g_signal_connect(page, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
    }),
        nullptr);
}
