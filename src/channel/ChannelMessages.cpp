#include "channel/ChannelMessages.h"

#include <cerrno>
#include <exception>
#include <limits>
#include <type_traits>

#include "base/Format.h"
#include "base/Utf8.h"
#include "channel/BufferedPayload.h"

namespace penwick::channel {
namespace {

using json = nlohmann::json;

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// What is wrong with `value` as a field of type T (nothing: `out` holds it now). nlohmann converts
// between number kinds and bool silently; the channel does not.
template<typename T>
std::optional<std::string> readValue(json& value, T& out)
{
    if constexpr (std::is_same_v<T, bool>) {
        if (!value.is_boolean())
            return "is not a boolean";
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!value.is_string())
            return "is not a string";
    } else if constexpr (std::is_unsigned_v<T>) {
        if (!value.is_number_unsigned())
            return "is not a count";
        if (value.get<std::uint64_t>() > std::numeric_limits<T>::max())
            return "is out of range";
    } else if constexpr (std::is_integral_v<T>) {
        if (!value.is_number_integer())
            return "is not an integer";
        auto number = value.get<std::int64_t>();
        // A count beyond the signed range reads as negative here; it is out of range all the same.
        if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<T>::max()))
            return "is out of range";
        if (number < std::numeric_limits<T>::min() || number > std::numeric_limits<T>::max())
            return "is out of range";
    } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
        if (!value.is_array())
            return "is not a list";
        out.clear();
        for (auto& item : value) {
            if (!item.is_string())
                return "holds a non-string";
            out.push_back(std::move(item.get_ref<std::string&>()));
        }
        return std::nullopt;
    } else {
        static_assert(std::is_same_v<T, Value>, "a field of a type the channel does not carry");
        out = std::move(value);
        return std::nullopt;
    }
    out = value.get<T>();
    return std::nullopt;
}

template<typename T>
std::optional<std::string> readValue(json& value, std::optional<T>& out)
{
    return readValue(value, out.emplace());
}

std::optional<std::string> wrongField(const char* name, std::optional<std::string> what)
{
    if (!what)
        return std::nullopt;
    return std::string("\"") + name + "\" " + *what;
}

template<typename T>
std::optional<std::string> readMember(json& object, const char* name, Presence presence, T& out)
{
    auto it = object.find(name);
    if (it == object.end()) {
        if (presence == Presence::Required)
            return std::string("no \"") + name + "\"";
        return std::nullopt;
    }
    return wrongField(name, readValue(*it, out));
}

template<typename T>
void writeMember(json& object, const char* name, const T& value)
{
    object[name] = value;
}

template<typename T>
void writeMember(json& object, const char* name, const std::optional<T>& value)
{
    if (value)
        object[name] = *value;
}

#define PENWICK_WRITE_MEMBER(type, name, initial, presence) writeMember(object, #name, message.name);
#define PENWICK_READ_MEMBER(type, name, initial, presence)                                                             \
    if (auto wrong = readMember(object, #name, Presence::presence, message.name))                                      \
        return wrong;
#define PENWICK_READ_ELEMENT(type, name, initial, presence)                                                            \
    if (auto wrong = wrongField(#name, readValue(list[index++], message.name)))                                       \
        return wrong;
#define PENWICK_WRITE_ELEMENT(type, name, initial, presence) head.push_back(std::move(call.name));
#define PENWICK_COUNT_FIELD(type, name, initial, presence) +1

// A message's rules beyond its fields' types: what is wrong with it, or nothing.
template<typename Message>
std::optional<std::string> wrongMessage(const Message&)
{
    return std::nullopt;
}

template<>
std::optional<std::string> wrongMessage<ConsoleCall>(const ConsoleCall& message)
{
    if (message.level >= std::size(kConsoleLevels))
        return std::string("\"level\" names no console level");
    return std::nullopt;
}

// Reads the message's fields out of `object` (taking them: it is left spent).
template<typename Message>
std::optional<std::string> readFields(json& object, Message& message);

#define PENWICK_OBJECT_MESSAGE(Message, FIELDS)                                                                        \
    template<>                                                                                                         \
    std::optional<std::string> readFields<Message>(json& object, Message& message)                                     \
    {                                                                                                                  \
        if (!object.is_object())                                                                                       \
            return std::string("not an object");                                                                       \
        FIELDS(PENWICK_READ_MEMBER)                                                                                    \
        return wrongMessage(message);                                                                                  \
    }                                                                                                                  \
    json fieldsOf(const Message& message)                                                                              \
    {                                                                                                                  \
        json object = json::object();                                                                                  \
        FIELDS(PENWICK_WRITE_MEMBER)                                                                                   \
        return object;                                                                                                 \
    }

PENWICK_OBJECT_MESSAGE(Hello, PENWICK_HELLO_FIELDS)
PENWICK_OBJECT_MESSAGE(NewContext, PENWICK_NEW_CONTEXT_FIELDS)
PENWICK_OBJECT_MESSAGE(ContextSetup, PENWICK_CONTEXT_SETUP_FIELDS)
PENWICK_OBJECT_MESSAGE(ExecTooLarge, PENWICK_EXEC_TOO_LARGE_FIELDS)
PENWICK_OBJECT_MESSAGE(ConsoleCall, PENWICK_CONSOLE_CALL_FIELDS)
PENWICK_OBJECT_MESSAGE(EngineConsole, PENWICK_ENGINE_CONSOLE_FIELDS)
PENWICK_OBJECT_MESSAGE(FrameGone, PENWICK_FRAME_GONE_FIELDS)
PENWICK_OBJECT_MESSAGE(NativeCallbackView, PENWICK_NATIVE_CALLBACK_FIELDS)
PENWICK_OBJECT_MESSAGE(CallbackAnswer, PENWICK_ANSWER_FIELDS)

constexpr std::size_t kExecCallFields = 0 PENWICK_EXEC_CALL_FIELDS(PENWICK_COUNT_FIELD);

// JSON text as a page may write it: a lone surrogate in a page's string reads as U+FFFD instead of
// failing the whole frame. Discarded when it is not JSON.
json parse(std::string_view text)
{
    auto repaired = jsonWithLoneSurrogatesReplaced(text);
    return json::parse(repaired ? std::string_view(*repaired) : text, nullptr, false);
}

Error wrongShape(FrameKind kind, const std::string& what)
{
    return Error { EINVAL, format("%@ payload has the wrong shape: %@", frameKindName(kind), what) };
}

// Runs a decoder's body; whatever it throws (nothing expected) is a payload of the wrong shape.
template<typename Message, typename Body>
Result<Message> guarded(Body&& body)
{
    try {
        Message message {};
        if (auto wrong = body(message))
            return wrongShape(Message::kKind, *wrong);
        return message;
    } catch (const std::exception& e) {
        return wrongShape(Message::kKind, e.what());
    }
}

// The head of a payload with buffers, read as JSON; `buffers` left as the payload holds them.
std::optional<std::string> splitHead(std::string_view payload, json& head, std::vector<std::string_view>& buffers)
{
    auto split = BufferedPayload::split(payload);
    if (!split)
        return split.error().message;
    head = parse(split->head);
    if (head.is_discarded())
        return std::string("the head is not JSON");
    buffers = std::move(split->buffers);
    return std::nullopt;
}

// The member of a NativeCallback's head that lists its buffers' places.
constexpr const char* kBufferPlaces = "buffers";

using BufferPlaces = std::vector<std::pair<std::string, const json::binary_t*>>;

std::string pointerToken(std::string_view key)
{
    std::string token;
    for (char c : key) {
        if (c == '~')
            token += "~0";
        else if (c == '/')
            token += "~1";
        else
            token += c;
    }
    return token;
}

// `value` with every byte buffer replaced by null; each buffer's place (a JSON pointer) is noted.
json withoutBuffers(const json& value, const std::string& at, BufferPlaces& buffers)
{
    switch (value.type()) {
    case json::value_t::binary:
        buffers.emplace_back(at, &value.get_binary());
        return nullptr;
    case json::value_t::array: {
        json out = json::array();
        const auto& array = value.get_ref<const json::array_t&>();
        for (std::size_t i = 0; i < array.size(); ++i)
            out.push_back(withoutBuffers(array[i], at + '/' + std::to_string(i), buffers));
        return out;
    }
    case json::value_t::object: {
        json out = json::object();
        for (const auto& [key, member] : value.get_ref<const json::object_t&>())
            out[key] = withoutBuffers(member, at + '/' + pointerToken(key), buffers);
        return out;
    }
    default:
        return value;
    }
}

std::string_view bytesOf(const json::binary_t& bytes) { return { reinterpret_cast<const char*>(bytes.data()), bytes.size() }; }

} // namespace

template<typename Message>
Result<Message> decode(std::string_view payload)
{
    return guarded<Message>([&](Message& message) -> std::optional<std::string> {
        json value = parse(payload);
        if (value.is_discarded())
            return std::string("not JSON");
        return readFields(value, message);
    });
}

#define PENWICK_PLAIN_MESSAGE(Message)                                                                                 \
    std::string encode(const Message& message) { return dump(fieldsOf(message)); }                                    \
    template Result<Message> decode<Message>(std::string_view);

PENWICK_PLAIN_MESSAGE(Hello)
PENWICK_PLAIN_MESSAGE(NewContext)
PENWICK_PLAIN_MESSAGE(ContextSetup)
PENWICK_PLAIN_MESSAGE(ExecTooLarge)
PENWICK_PLAIN_MESSAGE(ConsoleCall)
PENWICK_PLAIN_MESSAGE(EngineConsole)
PENWICK_PLAIN_MESSAGE(FrameGone)

// ---- page calls, with their byte buffers raw ---------------------------------------------------

std::string execHeadEnd(const std::vector<std::uint64_t>& places) { return ',' + dump(places) + ']'; }

std::string encode(const ExecCall& message)
{
    // Buffers among the arguments leave a null in the head and travel beside it.
    json arguments = message.arguments;
    std::vector<std::uint64_t> places;
    std::vector<std::string_view> buffers;
    if (arguments.is_array()) {
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            if (!arguments[i].is_binary())
                continue;
            buffers.push_back(bytesOf(message.arguments[i].get_binary()));
            arguments[i] = nullptr;
            places.push_back(i);
        }
    }
    ExecCall call { message.callbackId, message.service, message.action, std::move(arguments) };
    json head = json::array();
    PENWICK_EXEC_CALL_FIELDS(PENWICK_WRITE_ELEMENT)
    std::string text = dump(head);
    if (!buffers.empty()) {
        text.pop_back();
        text += execHeadEnd(places);
    }
    return BufferedPayload::join(text, buffers);
}

template<>
Result<ExecCall> decode<ExecCall>(std::string_view payload)
{
    return guarded<ExecCall>([&](ExecCall& message) -> std::optional<std::string> {
        json list;
        std::vector<std::string_view> buffers;
        if (auto wrong = splitHead(payload, list, buffers))
            return wrong;
        if (!list.is_array() || list.size() < kExecCallFields || list.size() > kExecCallFields + 1)
            return format("not a list of %@, or of %@ and the buffers' places", kExecCallFields, kExecCallFields);
        std::size_t index = 0;
        PENWICK_EXEC_CALL_FIELDS(PENWICK_READ_ELEMENT)
        static const json kNoPlaces = json::array();
        const json& places = list.size() > kExecCallFields ? list[kExecCallFields] : kNoPlaces;
        if (!places.is_array() || (&places != &kNoPlaces && places.empty()) || (!places.empty() && !message.arguments.is_array()))
            return std::string("buffers without arguments to hold them");
        if (places.size() != buffers.size())
            return format("%@ buffers for %@ places", buffers.size(), places.size());
        std::size_t next = 0;
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            // Each buffer fills a null of its own, in the order of the arguments.
            const json& place = places[i];
            if (!place.is_number_unsigned() || place.get<std::uint64_t>() < next || place.get<std::uint64_t>() >= message.arguments.size())
                return std::string("a buffer's place is not a later argument");
            auto at = static_cast<std::size_t>(place.get<std::uint64_t>());
            next = at + 1;
            if (!message.arguments[at].is_null())
                return std::string("a buffer's place is not a null argument");
            auto* data = reinterpret_cast<const std::uint8_t*>(buffers[i].data());
            message.arguments[at] = json::binary(Bytes(data, data + buffers[i].size()));
        }
        return std::nullopt;
    });
}

// ---- answers -----------------------------------------------------------------------------------

std::string encode(const NativeCallback& m) { return encodeNativeCallback(m.callbackId, m.status, m.keepCallback, m.message); }

namespace {
// The head and the buffers of a NativeCallback payload; the buffers point into `message`.
std::pair<std::string, std::vector<std::string_view>> nativeCallbackParts(const std::string& callbackId, std::int32_t status,
    bool keepCallback, const Value& message)
{
    BufferPlaces places;
    // The fields written as the declaration names them, the message without its buffers.
    NativeCallbackView head { callbackId, status, keepCallback, withoutBuffers(message, "", places), {} };
    json text = fieldsOf(head);
    json list = json::array();
    std::vector<std::string_view> buffers;
    buffers.reserve(places.size());
    for (const auto& [at, bytes] : places) {
        list.push_back(at);
        buffers.push_back(bytesOf(*bytes));
    }
    text[kBufferPlaces] = std::move(list);
    return { dump(text), std::move(buffers) };
}
} // namespace

std::string encodeNativeCallback(const std::string& callbackId, std::int32_t status, bool keepCallback, const Value& message)
{
    auto [head, buffers] = nativeCallbackParts(callbackId, status, keepCallback, message);
    return BufferedPayload::join(head, buffers);
}

SharedPayload encodeNativeCallback(const std::string& callbackId, std::int32_t status, bool keepCallback,
    std::shared_ptr<const Value> message)
{
    auto [head, buffers] = nativeCallbackParts(callbackId, status, keepCallback, *message);
    return BufferedPayload::shared(head, buffers, std::move(message));
}

template<>
Result<NativeCallbackView> decode<NativeCallbackView>(std::string_view payload)
{
    return guarded<NativeCallbackView>([&](NativeCallbackView& message) -> std::optional<std::string> {
        json head;
        std::vector<std::string_view> buffers;
        if (auto wrong = splitHead(payload, head, buffers))
            return wrong;
        json places = head.is_object() && head.contains(kBufferPlaces) ? std::move(head[kBufferPlaces]) : json();
        if (auto wrong = readFields(head, message))
            return wrong;
        if (!places.is_array())
            return format("\"%@\" is not a list", kBufferPlaces);
        if (places.size() != buffers.size())
            return format("%@ buffers for %@ places", buffers.size(), places.size());
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            const std::string* place = places[i].is_string() ? &places[i].get_ref<const std::string&>() : nullptr;
            if (!place || (!place->empty() && place->front() != '/'))
                return std::string("a buffer's place is not a JSON pointer");
            json::json_pointer at(*place);
            // Each buffer fills a place of its own that the message keeps free for it.
            if (!message.message.contains(at) || !message.message.at(at).is_null())
                return std::string("a buffer's place is not a null of the message");
            message.message.at(at) = json::binary(Bytes(), i);
        }
        message.buffers = std::move(buffers);
        return std::nullopt;
    });
}

template<>
Result<NativeCallback> decode<NativeCallback>(std::string_view payload)
{
    auto view = decode<NativeCallbackView>(payload);
    if (!view)
        return view.error();
    NativeCallback call { std::move(view->callbackId), view->status, view->keepCallback, std::move(view->message) };
    // Each buffer's place names it by its subtype.
    std::vector<Value*> pending { &call.message };
    while (!pending.empty()) {
        Value* value = pending.back();
        pending.pop_back();
        if (value->is_binary()) {
            std::string_view bytes = view->buffers[value->get_binary().subtype()];
            value->get_binary() = json::binary_t(Bytes(bytes.begin(), bytes.end()));
        } else if (value->is_structured()) {
            for (auto& item : *value)
                pending.push_back(&item);
        }
    }
    return call;
}

std::string encode(const CallbackAnswer& message) { return BufferedPayload::join(dump(fieldsOf(message)), { message.messageJson }); }

SharedPayload encodeCallbackAnswer(const std::string& callbackId, std::int32_t status, bool keepCallback,
    std::shared_ptr<const std::string> messageJson)
{
    CallbackAnswer fields { callbackId, status, keepCallback, {} };
    std::string_view text = *messageJson;
    return BufferedPayload::shared(dump(fieldsOf(fields)), { text }, std::move(messageJson));
}

template<>
Result<CallbackAnswer> decode<CallbackAnswer>(std::string_view payload)
{
    return guarded<CallbackAnswer>([&](CallbackAnswer& message) -> std::optional<std::string> {
        json head;
        std::vector<std::string_view> buffers;
        if (auto wrong = splitHead(payload, head, buffers))
            return wrong;
        if (auto wrong = readFields(head, message))
            return wrong;
        if (buffers.size() != 1 || buffers[0].empty())
            return std::string("no message");
        message.messageJson = buffers[0];
        return std::nullopt;
    });
}

std::optional<std::string> answerCallbackId(std::string_view payload)
{
    auto text = BufferedPayload::headOf(payload);
    if (!text)
        return std::nullopt;
    // Both answers' heads start with the same fields.
    json head = json::parse(*text, nullptr, false);
    CallbackAnswer answer;
    if (readFields(head, answer))
        return std::nullopt;
    return std::move(answer.callbackId);
}

} // namespace penwick::channel
