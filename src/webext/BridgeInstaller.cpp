#include "webext/BridgeInstaller.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/Utf8.h"
#include "channel/BufferedPayload.h"
#include "webext/CallHeadReader.h"
#include "webext/ExtensionChannel.h"
#include "webext/InjectedScripts.h"

namespace penwick::webext {
namespace {

using channel::FrameKind;

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

// Sends a page call: the JSON text the page's engine wrote (the list of the call's fields) and the
// bytes of the buffers it took out of the arguments at `places`, as they are. Blocks until the
// host's action has returned.
void sendCall(const ContextRef& ref, std::string_view text, const std::vector<std::string_view>& buffers = {},
    const std::vector<std::uint64_t>& places = {})
{
    auto& channel = *ref.channel;
    std::vector<std::string_view> head { text };
    std::vector<std::string_view> sent;
    // With buffers, their places end the head in place of the list's closing bracket.
    std::string end;
    if (!buffers.empty() && !text.empty() && text.back() == ']') {
        end = penwick::channel::execHeadEnd(places);
        head = { text.substr(0, text.size() - 1), end };
        sent = buffers;
    }
    std::size_t size = penwick::channel::BufferedPayload::size(head[0].size() + end.size(), sent);
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
    std::string lengths;
    (void)channel.call(FrameKind::Exec, ref.page, ref.context, penwick::channel::BufferedPayload::pieces(head, sent, lengths),
        FrameKind::ExecDone);
}

void execCall(const char* call, gpointer data)
{
    sendCall(*static_cast<ContextRef*>(data), call ? call : "null");
}

// A call whose arguments held byte buffers: (text, [Uint8Array...]). Their bytes are read where
// the engine keeps them; no script runs until the call has been sent.
void execCallWithBytes(GPtrArray* args, gpointer data)
{
    auto* ref = static_cast<ContextRef*>(data);
    JSCValue* textValue = args->len > 0 ? static_cast<JSCValue*>(g_ptr_array_index(args, 0)) : nullptr;
    JSCValue* list = args->len > 1 ? static_cast<JSCValue*>(g_ptr_array_index(args, 1)) : nullptr;
    JSCValue* placeList = args->len > 2 ? static_cast<JSCValue*>(g_ptr_array_index(args, 2)) : nullptr;
    GUnique<char> text(textValue && jsc_value_is_string(textValue) ? jsc_value_to_string(textValue) : nullptr);
    std::vector<GRef<JSCValue>> views;
    std::vector<std::string_view> buffers;
    std::vector<std::uint64_t> places;
    if (list && jsc_value_is_array(list)) {
        GRef<JSCValue> lengthValue = adopt(jsc_value_object_get_property(list, "length"));
        auto length = lengthValue ? jsc_value_to_int32(lengthValue.get()) : 0;
        for (gint32 i = 0; i < length; ++i) {
            GRef<JSCValue> view = adopt(jsc_value_object_get_property_at_index(list, static_cast<guint>(i)));
            gsize size = view && jsc_value_is_typed_array(view.get()) ? jsc_value_typed_array_get_size(view.get()) : 0;
            void* bytes = size ? jsc_value_typed_array_get_data(view.get(), nullptr) : nullptr;
            buffers.emplace_back(bytes ? static_cast<const char*>(bytes) : "", bytes ? size : 0);
            views.push_back(std::move(view));
            GRef<JSCValue> place;
            if (placeList && jsc_value_is_array(placeList))
                place = adopt(jsc_value_object_get_property_at_index(placeList, static_cast<guint>(i)));
            places.push_back(place && jsc_value_is_number(place.get()) ? static_cast<std::uint64_t>(jsc_value_to_int32(place.get())) : 0);
        }
    }
    if (JSCContext* context = jsc_context_get_current())
        jsc_context_clear_exception(context);
    sendCall(*ref, text ? std::string_view(text.get()) : std::string_view("null"), buffers, places);
}

void consoleCall(GPtrArray* args, gpointer data)
{
    auto* ref = static_cast<ContextRef*>(data);
    JSCValue* value = args->len ? static_cast<JSCValue*>(g_ptr_array_index(args, 0)) : nullptr;
    penwick::channel::ConsoleCall line { static_cast<std::size_t>(ref->level), std::nullopt };
    if (value && !jsc_value_is_undefined(value)) {
        // The engine writes the value as JSON, text too (its plain text of a string ends at a lone
        // surrogate); what it cannot write travels as null. A lone surrogate reads as U+FFFD, as in
        // page calls.
        std::string json = jsonOf(value);
        auto repaired = penwick::jsonWithLoneSurrogatesReplaced(json);
        line.value = nlohmann::json::parse(repaired ? *repaired : json, nullptr, false);
        if (line.value->is_discarded())
            line.value = nullptr;
    }
    std::string payload = penwick::channel::encode(line);
    auto& channel = *ref->channel;
    if (!penwick::channel::frameLength(payload.size(), channel.maxPayload())) {
        payload = penwick::channel::encode(penwick::channel::ConsoleCall { static_cast<std::size_t>(ref->level),
            nlohmann::json(std::to_string(payload.size()) + " bytes of console output, more than the page channel carries") });
    }
    (void)channel.post(FrameKind::Console, ref->page, ref->context, payload);
}

// The page's script dialog comes from this document: the host hears it before the dialog does.
void dialogOpening(GPtrArray*, gpointer data)
{
    auto* ref = static_cast<ContextRef*>(data);
    (void)ref->channel->call(FrameKind::DialogOpener, ref->page, ref->context, std::string_view(), FrameKind::ExecDone);
}

void dialogOver(GPtrArray*, gpointer data)
{
    auto* ref = static_cast<ContextRef*>(data);
    (void)ref->channel->post(FrameKind::DialogOpener, ref->page, 0, std::string_view());
}

// Every document's alert, confirm and prompt say who opens them (see dialogs.js).
void wrapDialogs(JSCContext* context, const ContextRef& ref)
{
    GRef<JSCValue> opening = BridgeInstaller::nativeFunction(context, nullptr, G_CALLBACK(dialogOpening), ref);
    GRef<JSCValue> over = BridgeInstaller::nativeFunction(context, nullptr, G_CALLBACK(dialogOver), ref);
    std::string_view script = InjectedScripts::script("dialogs.js");
    GRef<JSCValue> wrap = adopt(jsc_context_evaluate(context, script.data(), static_cast<gssize>(script.size())));
    if (wrap && jsc_value_is_function(wrap.get()))
        GRef<JSCValue> done = adopt(jsc_value_function_call(wrap.get(), JSC_TYPE_VALUE, opening.get(), JSC_TYPE_VALUE, over.get(), G_TYPE_NONE));
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
                BridgeInstaller::evaluateIgnoringResult(current, *static_cast<std::string*>(data));
        }),
        text, +[](gpointer p) { delete static_cast<std::string*>(p); }, G_TYPE_NONE));
    GRef<JSCValue> type = adopt(jsc_value_new_string(context, "load"));
    // Called on the window itself, as `window.addEventListener('load', ...)` would be.
    GRef<JSCValue> added = adopt(jsc_value_object_invoke_method(window.get(), "addEventListener", JSC_TYPE_VALUE,
        type.get(), JSC_TYPE_VALUE, listener.get(), G_TYPE_NONE));
    jsc_context_clear_exception(context);
}

// The page's console (see console.js) over the six native line writers.
GRef<JSCValue> makeConsole(JSCContext* context, const ContextRef& ref)
{
    GRef<JSCValue> writers[6];
    for (int level = 0; level < 6; ++level) {
        ContextRef levelRef = ref;
        levelRef.level = level;
        writers[level] = BridgeInstaller::nativeFunction(context, channel::kConsoleLevels[level], G_CALLBACK(consoleCall), levelRef);
    }
    GRef<JSCValue> window = adopt(jsc_context_get_global_object(context));
    GRef<JSCValue> json = adopt(jsc_value_object_get_property(window.get(), "JSON"));
    GRef<JSCValue> stringify = adopt(jsc_value_object_get_property(json.get(), "stringify"));
    GRef<JSCValue> clock = adopt(jsc_context_evaluate(context,
        "(function (p) { return p && p.now ? function () { return p.now(); } : Date.now; })(self.performance)", -1));
    std::string_view script = InjectedScripts::script("console.js");
    GRef<JSCValue> factory = adopt(jsc_context_evaluate(context, script.data(), static_cast<gssize>(script.size())));
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

} // namespace

GRef<JSCValue> BridgeInstaller::nativeFunction(JSCContext* context, const char* name, GCallback callback, const ContextRef& ref)
{
    return adopt(jsc_value_new_function_variadic(context, name, callback, new ContextRef(ref),
        +[](gpointer p) { delete static_cast<ContextRef*>(p); }, G_TYPE_NONE));
}

void BridgeInstaller::evaluateIgnoringResult(JSCContext* context, std::string_view script)
{
    GRef<JSCValue> result = adopt(jsc_context_evaluate(context, script.data(), static_cast<gssize>(script.size())));
    jsc_context_clear_exception(context);
}

void BridgeInstaller::install(JSCContext* context, ContextRef ref, const channel::ContextSetup& setup) const
{
    ref.channel = &m_channel;
    wrapDialogs(context, ref);
    GRef<JSCValue> window = adopt(jsc_context_get_global_object(context));
    if (setup.console) {
        if (GRef<JSCValue> console = makeConsole(context, ref))
            jsc_value_object_set_property(window.get(), "console", console.get());
    }
    if (setup.bridge)
        evaluateIgnoringResult(context, InjectedScripts::script("engine-gaps.js"));
    if (setup.bridge || m_reach == Reach::Everywhere) {
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
        std::string_view script = InjectedScripts::script("exec.js");
        GRef<JSCValue> factory = adopt(jsc_context_evaluate(context, script.data(), static_cast<gssize>(script.size())));
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

} // namespace penwick::webext
