// The host's code inside each web process. It holds no host state: for every new script context
// it asks the host what to install, and it forwards page calls, console lines and engine console
// messages to the host over the channel, in order.

#include <map>
#include <cmath>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <unistd.h>
#include <vector>
#include <webkit2/webkit-web-extension.h>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "channel/ChannelProtocol.h"
#include "channel/FileReach.h"
#include "webext/AnswerDelivery.h"
#include "webext/BridgeInstaller.h"
#include "webext/EngineBufferMemory.h"
#include "webext/ExtensionChannel.h"
#include "webext/FileReachFilter.h"
#include "webext/FrameTable.h"
#include "webext/InjectedScripts.h"

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
    BridgeInstaller bridge { channel };
    FrameTable frames { channel };
    FileReachFilter fileReach;
    // The origin of each page's main-frame document, as it was before any of its script ran.
    std::map<std::uint64_t, std::string> topOrigins;
};

ExtensionState& state()
{
    // Lives as long as the web process; never destroyed, so no teardown ordering with WebKit.
    static auto* s_state = new ExtensionState;
    return *s_state;
}

// The URL of the parent document whose origin a fresh "about:" document shares (see owner.js).
std::string ownerURL(JSCContext* context)
{
    std::string_view script = InjectedScripts::script("owner.js");
    GRef<JSCValue> value = adopt(jsc_context_evaluate(context, script.data(), static_cast<gssize>(script.size())));
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

// A frame of another origin than the main frame's document, as its web view hears of the user's
// input to it (kForeignActivationMessage): its page and its origin, read before its script ran.
struct ForeignFrame {
    std::uint64_t page = 0;
    std::string origin;
};

void reportForeignActivation(GPtrArray*, gpointer data)
{
    auto* frame = static_cast<ForeignFrame*>(data);
    if (WebKitWebPage* page = webkit_web_extension_get_page(state().extension, frame->page))
        webkit_web_page_send_message_to_view(page,
            webkit_user_message_new(penwick::channel::kForeignActivationMessage,
                g_variant_new(penwick::channel::kForeignActivationType, frame->origin.c_str())),
            nullptr, nullptr, nullptr);
}

// Watches a frame of another origin than the main frame's document for the user's trusted input
// (see foreign-activation.js).
void watchForeignActivation(JSCContext* context, ForeignFrame frame)
{
    std::string_view script = InjectedScripts::script("foreign-activation.js");
    GRef<JSCValue> report = adopt(jsc_value_new_function_variadic(context, nullptr, G_CALLBACK(reportForeignActivation),
        new ForeignFrame(std::move(frame)), +[](gpointer p) { delete static_cast<ForeignFrame*>(p); }, G_TYPE_NONE));
    GRef<JSCValue> watch = adopt(jsc_context_evaluate(context, script.data(), static_cast<gssize>(script.size())));
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
    } else if (std::string origin = context ? originOf(context.get()) : ""; context && origin != s.topOrigins[ref.page]) {
        watchForeignActivation(context.get(), { ref.page, origin });
    }
    s.frames.watch(frame, ref.page);
    // The frame's previous document is gone: answers for it are dropped from now on.
    s.frames.setContext(frame, 0);
    if (!main && context)
        notice.parent = s.frames.parentContext(context.get(), ref.page, frame);
    auto answer = s.channel.call(FrameKind::NewContext, ref.page, 0, penwick::channel::encode(notice), FrameKind::ContextSetup);
    bool bridged = false;
    if (answer && answer->context != 0) {
        ref.context = answer->context;
        s.frames.setContext(frame, ref.context);
        auto setup = penwick::channel::decode<penwick::channel::ContextSetup>(answer->payload);
        if (!setup)
            penwick::log::warning(penwick::format("penwick web process %@: %@; the frame gets no bridge", getpid(), setup.error().message));
        else if (context)
            s.bridge.install(context.get(), ref, *setup);
        bridged = setup && setup->bridge;
    }
    // The engine asks the host for a frame's clipboard read or pointer lock on behalf of the main
    // frame's document: a frame without the bridge would get them with the app's right.
    if (context && !main && !bridged)
        BridgeInstaller::evaluateIgnoringResult(context.get(), InjectedScripts::script("withheld-frame.js"));
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
DocumentScript answerContext(std::uint64_t pageId, std::uint64_t contextId)
{
    if (contextId == 0)
        return { mainFrameContext(pageId), nullptr };
    return state().frames.context(pageId, contextId);
}

void evaluateInMainFrame(std::uint64_t pageId, std::uint64_t contextId, const std::vector<std::string>& scripts)
{
    GRef<JSCContext> context = answerContext(pageId, contextId).context;
    if (!context)
        return;
    // Promise reactions the scripts queue run as the engine releases its lock, right here.
    if (scripts.size() == 1) {
        BridgeInstaller::evaluateIgnoringResult(context.get(), scripts.front());
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
            BridgeInstaller::evaluateIgnoringResult(context.get(), script);
    }
}

// The host's messages to a page: the file: reach of the document the main frame shows next.
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
    state().fileReach.announced(webkit_web_page_get_id(page), url, std::move(folders));
    return TRUE;
}

} // namespace
} // namespace penwick::webext

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
    const GVariant* userData)
{
    using namespace penwick::webext;
    auto& s = state();
    s.extension = extension;
    // GLib ends a process whose shared session bus closes with SIGTERM: the desktop restarting its
    // bus would take the page down (lost, then reloaded). What in this process uses the bus shares
    // this connection, kept for the process's life.
    if (const char* bus = g_getenv("DBUS_SESSION_BUS_ADDRESS"); bus && *bus) {
        g_bus_get(G_BUS_TYPE_SESSION, nullptr, +[](GObject*, GAsyncResult* result, gpointer) {
            if (GDBusConnection* connection = g_bus_get_finish(result, nullptr))
                g_dbus_connection_set_exit_on_close(connection, FALSE);
        }, nullptr);
    }
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
    s.bridge.setReach(g_getenv("PENWICK_TEST_DISOBEYING_WEB_PROCESS") ? BridgeInstaller::Reach::Everywhere
                                                                      : BridgeInstaller::Reach::AsTheHostSays);
    std::string error;
    if (!s.channel.open(path, token, error)) {
        penwick::log::warning(penwick::format("penwick web process: cannot reach the host at %@: %@; pages get no bridge", path, error));
        return;
    }
    s.channel.setEvaluator(evaluateInMainFrame);
    static auto* s_answers = new AnswerDelivery(answerContext);
    s.channel.setAnswerMemory(EngineBufferMemory::memory());
    s.channel.setCallbackRunner([](std::uint64_t page, std::uint64_t context, std::string_view payload,
                                    const std::shared_ptr<penwick::channel::AnswerBuffer>& owner) {
        s_answers->runNativeCallback(page, context, payload, owner);
    });
    s.channel.setAnswerRunner([](std::uint64_t page, std::uint64_t context, const std::vector<std::string_view>& payloads) {
        s_answers->runAnswers(page, context, payloads);
    });
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowObjectCleared), nullptr);
    g_signal_connect(extension, "page-created", G_CALLBACK(+[](WebKitWebExtension*, WebKitWebPage* page, gpointer) {
        claimPage(page);
        g_signal_connect(page, "console-message-sent", G_CALLBACK(onConsoleMessage), nullptr);
    }),
        nullptr);
    s.fileReach.install(extension);
    g_signal_connect(extension, "page-created", G_CALLBACK(+[](WebKitWebExtension*, WebKitWebPage* page, gpointer) {
        g_signal_connect(page, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
    }),
        nullptr);
}
