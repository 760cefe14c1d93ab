#include "webext/AnswerDelivery.h"

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "base/Format.h"
#include "base/Log.h"
#include "channel/ChannelProtocol.h"

namespace penwick::webext {
namespace {

using penwick::Value;
using penwick::ValueArray;
using penwick::ValueObject;

// The byte buffers of one answer: where their bytes are, and how the page takes them.
struct AnswerBuffers {
    // Each byte buffer of the message names by its subtype its bytes among these (in the payload).
    const std::vector<std::string_view>& bytes;
    // The page's library takes ArrayBuffers; any other gets the markers its script form holds.
    bool raw = false;
    // The payload's memory when the engine may keep it; null when the payload is only lent.
    std::shared_ptr<penwick::channel::AnswerBuffer> adoptable;
};

// An ArrayBuffer over `bytes`, which lie in `owner`: the buffer holds `owner` until the engine lets
// the buffer go, so the bytes are never copied nor zeroed first. The engine lets buffers go while it
// collects garbage on the page's thread; large memory is given back to the system off that thread.
GRef<JSCValue> adoptedArrayBuffer(JSCContext* context, std::string_view bytes, const std::shared_ptr<penwick::channel::AnswerBuffer>& owner)
{
    using Held = std::shared_ptr<penwick::channel::AnswerBuffer>;
    return adopt(jsc_value_new_array_buffer(context, const_cast<char*>(bytes.data()), bytes.size(),
        +[](gpointer data) {
            std::unique_ptr<Held> held(static_cast<Held*>(data));
            if (held->use_count() == 1 && (*held)->size() >= penwick::channel::AnswerBuffer::kReleasedAsideBytes)
                penwick::channel::AnswerBuffer::releaseAside(std::move(*held));
        },
        new Held(owner)));
}

// The page's value for a message: byte buffers become ArrayBuffers holding the answer's bytes when
// the page's library takes them, else the ArrayBuffer markers its script form holds.
GRef<JSCValue> pageValue(JSCContext* context, const Value& value, const AnswerBuffers& buffers)
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
        const auto& binary = value.get_binary();
        std::string_view bytes = binary.has_subtype() && binary.subtype() < buffers.bytes.size() ? buffers.bytes[binary.subtype()] : std::string_view();
        if (buffers.raw && buffers.adoptable && !bytes.empty())
            return adoptedArrayBuffer(context, bytes, buffers.adoptable);
        if (buffers.raw) {
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
        GUnique<char> base64(g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
        Value marker { { "WHType", "ArrayBuffer" }, { "data", std::string(base64.get()) } };
        return pageValue(context, marker, buffers);
    }
    case Value::value_t::array: {
        GRef<JSCValue> array = adopt(jsc_value_new_array(context, G_TYPE_NONE));
        const auto& items = value.get_ref<const ValueArray&>();
        for (std::size_t i = 0; i < items.size(); ++i) {
            GRef<JSCValue> item = pageValue(context, items[i], buffers);
            jsc_value_object_set_property_at_index(array.get(), static_cast<guint>(i), item.get());
        }
        return array;
    }
    case Value::value_t::object: {
        GRef<JSCValue> object = adopt(jsc_value_new_object(context, nullptr, nullptr));
        for (const auto& [key, member] : value.get_ref<const ValueObject&>()) {
            GRef<JSCValue> item = pageValue(context, member, buffers);
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
    // Sized once: a large answer's text is not copied again as it grows.
    std::size_t size = 2;
    for (const auto& answer : answers)
        size += answer.callbackId.size() + answer.messageJson.size() + 32;
    std::string text;
    text.reserve(size);
    text += '[';
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

} // namespace

AnswerDelivery::AnswerDelivery(ContextLookup contextFor)
    : m_contextFor(std::move(contextFor))
{
}

// An answer whose byte buffers came as raw bytes: the page library's native callback is called with
// the same four values its script form would give it. The callback's function says with a true
// `takesArrayBuffers` that it takes ArrayBuffers; any other library gets the ArrayBuffer markers.
void AnswerDelivery::runNativeCallback(std::uint64_t pageId, std::uint64_t contextId, std::string_view payload,
    const std::shared_ptr<channel::AnswerBuffer>& owner)
{
    auto call = penwick::channel::decode<penwick::channel::NativeCallbackView>(payload);
    if (!call) {
        penwick::log::warning(penwick::format("penwick web process %@: %@; the answer was dropped", getpid(), call.error().message));
        return;
    }
    GRef<JSCContext> context = m_contextFor(pageId, contextId).context;
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
    AnswerBuffers buffers { call->buffers, rawBuffers, owner && owner->engineMayAdopt() ? owner : nullptr };
    GRef<JSCValue> message = pageValue(context.get(), call->message, buffers);
    GRef<JSCValue> result = adopt(jsc_value_object_invoke_method(exec.get(), "nativeCallback", JSC_TYPE_VALUE, callbackId.get(),
        G_TYPE_INT, static_cast<gint>(call->status), JSC_TYPE_VALUE, message.get(), G_TYPE_INT, call->keepCallback ? 1 : 0,
        G_TYPE_NONE));
    jsc_context_clear_exception(context.get());
}

void AnswerDelivery::runAnswers(std::uint64_t pageId, std::uint64_t contextId, const std::vector<std::string_view>& payloads)
{
    DocumentScript document = m_contextFor(pageId, contextId);
    JSCContext* context = document.context.get();
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
    GRef<JSCValue> list = answerList(context, answers);
    // Made once per document: it names nothing of the page but `webhost`, looked up on each run.
    // The document's slot is not touched once page script has run (it may end the document).
    GRef<JSCValue> loop = document.answerLoop ? *document.answerLoop : GRef<JSCValue>();
    if (!loop) {
        loop = adopt(jsc_context_evaluate(context, kAnswerLoop, -1));
        if (jsc_context_get_exception(context) || !loop || !jsc_value_is_function(loop.get()))
            loop = {};
        else if (document.answerLoop)
            *document.answerLoop = loop;
    }
    if (list && loop)
        GRef<JSCValue> done = adopt(jsc_value_function_call(loop.get(), JSC_TYPE_VALUE, list.get(), G_TYPE_NONE));
    jsc_context_clear_exception(context);
}

} // namespace penwick::webext
