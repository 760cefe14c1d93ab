#include "channel/ChannelProtocol.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <stdexcept>

#include "base/Format.h"
#include "base/Utf8.h"

namespace penwick::channel {

const char* frameKindName(FrameKind kind)
{
    static constexpr const char* kNames[] = { "unknown", "Hello", "NewContext", "ContextSetup", "Exec", "ExecDone",
        "Console", "EngineConsole", "Evaluate", "ExecTooLarge", "FrameGone", "EvaluatePiece", "NativeCallback",
        "CallbackAnswer", "AnswerPiece", "DialogOpener" };
    auto index = static_cast<std::uint32_t>(kind);
    return index <= kLastFrameKind ? kNames[index] : kNames[0];
}

Result<void> appendFrame(std::string& out, FrameKind kind, std::uint64_t page, std::uint64_t context,
    std::string_view payload, std::size_t limit)
{
    auto length = frameLength(payload.size(), limit);
    if (!length) {
        return Error { EFBIG, format("a %@ frame of %@ bytes exceeds the page channel's limit of %@ bytes",
                                  frameKindName(kind), payload.size(), std::min<std::size_t>(limit, kMaxPayload)) };
    }
    FrameHeader header { *length, static_cast<std::uint32_t>(kind), page, context };
    out.append(reinterpret_cast<const char*>(&header), sizeof header);
    out.append(payload.data(), payload.size());
    return {};
}

FrameReader::Status FrameReader::next(Frame& frame)
{
    if (m_buffer.size() - m_offset < sizeof(FrameHeader))
        return compact(), Status::NeedMore;
    FrameHeader header;
    std::memcpy(&header, m_buffer.data() + m_offset, sizeof header);
    if (header.length > m_maxPayload || header.kind < static_cast<std::uint32_t>(FrameKind::Hello) || header.kind > kLastFrameKind)
        return Status::Broken;
    if (m_buffer.size() - m_offset - sizeof header < header.length)
        return compact(), Status::NeedMore;
    frame.kind = static_cast<FrameKind>(header.kind);
    frame.page = header.page;
    frame.context = header.context;
    frame.payload.assign(m_buffer, m_offset + sizeof header, header.length);
    m_offset += sizeof header + header.length;
    return Status::Frame;
}

void FrameReader::compact()
{
    if (m_offset) {
        m_buffer.erase(0, m_offset);
        m_offset = 0;
    }
}

void keepFrameBuffersInHeap()
{
    constexpr int kHeapLimit = 64 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kHeapLimit);
    mallopt(M_TRIM_THRESHOLD, kHeapLimit);
}

namespace {

using json = nlohmann::json;

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

const json& member(const json& object, const char* name)
{
    if (!object.is_object())
        throw std::invalid_argument("not an object");
    auto it = object.find(name);
    if (it == object.end())
        throw std::invalid_argument(std::string("no \"") + name + "\"");
    return *it;
}

template<typename T>
T typed(const json& object, const char* name)
{
    const json& value = member(object, name);
    // nlohmann converts between number kinds and bool silently; the channel does not.
    if constexpr (std::is_same_v<T, bool>) {
        if (!value.is_boolean())
            throw std::invalid_argument(std::string("\"") + name + "\" is not a boolean");
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!value.is_string())
            throw std::invalid_argument(std::string("\"") + name + "\" is not a string");
    } else if constexpr (std::is_unsigned_v<T>) {
        if (!value.is_number_unsigned())
            throw std::invalid_argument(std::string("\"") + name + "\" is not a count");
    } else {
        if (!value.is_number_integer())
            throw std::invalid_argument(std::string("\"") + name + "\" is not an integer");
    }
    return value.get<T>();
}

template<typename Message>
Message fromJson(json& value);

template<>
Hello fromJson<Hello>(json& value)
{
    return Hello { typed<std::uint32_t>(value, "version"), typed<std::string>(value, "token"), typed<std::int64_t>(value, "pid") };
}

template<>
NewContext fromJson<NewContext>(json& value)
{
    NewContext notice { typed<std::uint64_t>(value, "frame"), typed<bool>(value, "main"), typed<std::string>(value, "url"), {} };
    if (value.is_object() && value.contains("owner"))
        notice.owner = typed<std::string>(value, "owner");
    if (value.is_object() && value.contains("opaque"))
        notice.opaque = typed<bool>(value, "opaque");
    if (value.is_object() && value.contains("parent"))
        notice.parent = typed<std::uint64_t>(value, "parent");
    return notice;
}

template<>
ContextSetup fromJson<ContextSetup>(json& value)
{
    ContextSetup setup { typed<bool>(value, "bridge"), typed<bool>(value, "console"), {}, std::nullopt };
    const json& scripts = member(value, "setup");
    if (!scripts.is_array())
        throw std::invalid_argument("\"setup\" is not a list");
    for (const auto& script : scripts) {
        if (!script.is_string())
            throw std::invalid_argument("\"setup\" holds a non-string");
        setup.setup.push_back(script.get<std::string>());
    }
    const json& load = member(value, "load");
    if (load.is_string())
        setup.load = load.get<std::string>();
    else if (!load.is_null())
        throw std::invalid_argument("\"load\" is neither a string nor null");
    return setup;
}


template<>
ExecTooLarge fromJson<ExecTooLarge>(json& value)
{
    return ExecTooLarge { member(value, "callbackId"), member(value, "service"), member(value, "action"),
        typed<std::uint64_t>(value, "size") };
}

template<>
ConsoleCall fromJson<ConsoleCall>(json& value)
{
    if (!value.is_array() || value.empty() || value.size() > 2 || !value[0].is_string())
        throw std::invalid_argument("not a level name with at most one value");
    const auto& name = value[0].get_ref<const std::string&>();
    for (std::size_t level = 0; level < std::size(kConsoleLevels); ++level) {
        if (name == kConsoleLevels[level])
            return ConsoleCall { level, value.size() > 1 ? std::optional<Value>(std::move(value[1])) : std::nullopt };
    }
    throw std::invalid_argument("unknown level \"" + name + "\"");
}

template<>
EngineConsole fromJson<EngineConsole>(json& value)
{
    // A level this side does not know reads as an error, which is never lost among the rest.
    auto level = typed<std::uint64_t>(value, "level");
    return EngineConsole { typed<std::string>(value, "source"), typed<std::int64_t>(value, "line"),
        typed<std::string>(value, "message"), level < std::size(kConsoleLevels) ? level : std::size(kConsoleLevels) - 1 };
}

template<>
FrameGone fromJson<FrameGone>(json& value)
{
    return FrameGone { typed<std::uint64_t>(value, "frame") };
}

// Takes a length of type `Length` and then that many bytes from the front of `bytes`; throws
// `noLength` or `pastEnd` when the payload holds too little for either.
template<typename Length>
std::string_view takeSized(std::string_view& bytes, const char* noLength, const char* pastEnd)
{
    Length length = 0;
    if (bytes.size() < sizeof length)
        throw std::invalid_argument(noLength);
    std::memcpy(&length, bytes.data(), sizeof length);
    bytes.remove_prefix(sizeof length);
    if (length > bytes.size())
        throw std::invalid_argument(pastEnd);
    std::string_view taken = bytes.substr(0, static_cast<std::size_t>(length));
    bytes.remove_prefix(static_cast<std::size_t>(length));
    return taken;
}

// A payload of a length-prefixed JSON head and the bytes after it: the head and the rest. Throws
// for a payload too short for its prefix or its head, as the decoders' other refusals do.
std::pair<std::string_view, std::string_view> splitHead(std::string_view payload)
{
    std::string_view head = takeSized<std::uint32_t>(payload, "no head", "the head runs past the payload");
    return { head, payload };
}

} // namespace

std::string encode(const Hello& m) { return dump({ { "version", m.version }, { "token", m.token }, { "pid", m.pid } }); }
std::string encode(const NewContext& m)
{
    return dump({ { "frame", m.frame }, { "main", m.main }, { "url", m.url }, { "owner", m.owner }, { "opaque", m.opaque },
        { "parent", m.parent } });
}
std::string encode(const ContextSetup& m)
{
    return dump({ { "bridge", m.bridge }, { "console", m.console }, { "setup", m.setup }, { "load", m.load ? json(*m.load) : json() } });
}
std::string encode(const ExecTooLarge& m)
{
    return dump({ { "callbackId", m.callbackId }, { "service", m.service }, { "action", m.action }, { "size", m.size } });
}
std::string encode(const ConsoleCall& m)
{
    json call = json::array({ kConsoleLevels[m.level < std::size(kConsoleLevels) ? m.level : 0] });
    if (m.value)
        call.push_back(*m.value);
    return dump(call);
}
std::string encode(const EngineConsole& m) { return dump({ { "source", m.source }, { "line", m.line }, { "message", m.message }, { "level", m.level } }); }
std::string encode(const FrameGone& m) { return dump({ { "frame", m.frame } }); }

template<typename Message>
Result<Message> decode(std::string_view payload)
{
    // The one place a payload is read: nothing it holds may escape as an exception.
    try {
        // A lone surrogate in a page's string reads as U+FFFD instead of failing the whole frame.
        auto repaired = jsonWithLoneSurrogatesReplaced(payload);
        json value = json::parse(repaired ? std::string_view(*repaired) : payload, nullptr, false);
        if (value.is_discarded())
            return Error { EINVAL, format("%@ payload is not JSON", frameKindName(Message::kKind)) };
        return fromJson<Message>(value);
    } catch (const std::exception& e) {
        return Error { EINVAL, format("%@ payload has the wrong shape: %@", frameKindName(Message::kKind), e.what()) };
    }
}

template Result<Hello> decode<Hello>(std::string_view);
template Result<NewContext> decode<NewContext>(std::string_view);
template Result<ContextSetup> decode<ContextSetup>(std::string_view);
template Result<ExecTooLarge> decode<ExecTooLarge>(std::string_view);
template Result<ConsoleCall> decode<ConsoleCall>(std::string_view);
template Result<EngineConsole> decode<EngineConsole>(std::string_view);
template Result<FrameGone> decode<FrameGone>(std::string_view);

// ---- page calls, with their byte buffers raw ---------------------------------------------------

std::size_t execPayloadSize(std::size_t headSize, const std::vector<std::string_view>& buffers)
{
    std::size_t size = sizeof(std::uint32_t) + headSize;
    for (auto buffer : buffers)
        size += sizeof(std::uint64_t) + buffer.size();
    return size;
}

std::string encode(const ExecCall& m)
{
    // Buffers among the arguments leave a null in the head and follow it as raw bytes.
    json arguments = m.arguments;
    json places = json::array();
    std::vector<std::string_view> buffers;
    if (arguments.is_array()) {
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            if (!arguments[i].is_binary())
                continue;
            const auto& bytes = m.arguments[i].get_binary();
            buffers.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            arguments[i] = nullptr;
            places.push_back(i);
        }
    }
    json call = json::array({ m.callbackId, m.service, m.action, std::move(arguments) });
    if (!buffers.empty())
        call.push_back(std::move(places));
    std::string head = dump(call);
    std::string out;
    out.reserve(execPayloadSize(head.size(), buffers));
    auto headLength = static_cast<std::uint32_t>(head.size());
    out.append(reinterpret_cast<const char*>(&headLength), sizeof headLength);
    out += head;
    for (auto buffer : buffers) {
        std::uint64_t size = buffer.size();
        out.append(reinterpret_cast<const char*>(&size), sizeof size);
        out += buffer;
    }
    return out;
}

template<>
Result<ExecCall> decode<ExecCall>(std::string_view payload)
{
    try {
        auto [text, bytes] = splitHead(payload);
        // A lone surrogate in a page's string reads as U+FFFD instead of failing the whole call.
        auto repaired = jsonWithLoneSurrogatesReplaced(text);
        json value = json::parse(repaired ? std::string_view(*repaired) : text, nullptr, false);
        if (value.is_discarded())
            throw std::invalid_argument("the head is not JSON");
        if (!value.is_array() || value.size() < 4 || value.size() > 5)
            throw std::invalid_argument("not a list of four, or of four and the buffers' places");
        ExecCall call { std::move(value[0]), std::move(value[1]), std::move(value[2]), std::move(value[3]) };
        if (value.size() == 5) {
            const json& places = value[4];
            if (!places.is_array() || places.empty() || !call.arguments.is_array())
                throw std::invalid_argument("buffers without arguments to hold them");
            std::size_t next = 0;
            for (const auto& place : places) {
                // Each buffer fills a null of its own, in the order of the arguments.
                if (!place.is_number_unsigned() || place.get<std::uint64_t>() < next || place.get<std::uint64_t>() >= call.arguments.size())
                    throw std::invalid_argument("a buffer's place is not a later argument");
                auto at = static_cast<std::size_t>(place.get<std::uint64_t>());
                next = at + 1;
                if (!call.arguments[at].is_null())
                    throw std::invalid_argument("a buffer's place is not a null argument");
                std::string_view buffer = takeSized<std::uint64_t>(bytes, "a buffer runs past the payload", "a buffer runs past the payload");
                auto* data = reinterpret_cast<const std::uint8_t*>(buffer.data());
                call.arguments[at] = json::binary(Bytes(data, data + buffer.size()));
            }
        }
        if (!bytes.empty())
            throw std::invalid_argument("bytes follow the last buffer");
        return call;
    } catch (const std::exception& e) {
        return Error { EINVAL, format("%@ payload has the wrong shape: %@", frameKindName(FrameKind::Exec), e.what()) };
    }
}

// ---- native callbacks with raw byte buffers ----------------------------------------------------

namespace {

using Buffers = std::vector<std::pair<std::string, const json::binary_t*>>;

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
json withoutBuffers(const json& value, const std::string& at, Buffers& buffers)
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

} // namespace

std::string encode(const NativeCallback& m) { return encodeNativeCallback(m.callbackId, m.status, m.keepCallback, m.message); }

std::string encodeNativeCallback(const std::string& callbackId, std::int32_t status, bool keepCallback, const Value& message)
{
    Buffers buffers;
    json head = { { "callbackId", callbackId }, { "status", status }, { "keep", keepCallback },
        { "message", withoutBuffers(message, "", buffers) } };
    json list = json::array();
    std::size_t total = 0;
    for (const auto& [at, bytes] : buffers) {
        list.push_back({ { "at", at }, { "size", bytes->size() } });
        total += bytes->size();
    }
    head["buffers"] = std::move(list);
    std::string text = dump(head);
    auto headLength = static_cast<std::uint32_t>(text.size());
    std::string out;
    out.reserve(sizeof headLength + text.size() + total);
    out.append(reinterpret_cast<const char*>(&headLength), sizeof headLength);
    out += text;
    for (const auto& [at, bytes] : buffers)
        out.append(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    return out;
}

namespace {
// The JSON head of an answer (both answer payloads start with one) with its status checked, and
// the bytes after it. Throws as the decoders' other refusals do.
struct AnswerHead {
    json head;
    std::int32_t status;
    std::string_view rest;
};
AnswerHead answerHead(std::string_view payload)
{
    auto [text, rest] = splitHead(payload);
    json head = json::parse(text, nullptr, false);
    if (head.is_discarded())
        throw std::invalid_argument("the head is not JSON");
    auto status = typed<std::int64_t>(head, "status");
    if (status < std::numeric_limits<std::int32_t>::min() || status > std::numeric_limits<std::int32_t>::max())
        throw std::invalid_argument("\"status\" is out of range");
    return { std::move(head), static_cast<std::int32_t>(status), rest };
}
} // namespace

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

template<>
Result<NativeCallbackView> decode<NativeCallbackView>(std::string_view payload)
{
    try {
        auto [head, status, bytes] = answerHead(payload);
        member(head, "message");
        NativeCallbackView call { typed<std::string>(head, "callbackId"), status, typed<bool>(head, "keep"), std::move(head["message"]), {} };
        const json& list = member(head, "buffers");
        if (!list.is_array())
            throw std::invalid_argument("\"buffers\" is not a list");
        for (const auto& buffer : list) {
            json::json_pointer at(typed<std::string>(buffer, "at"));
            auto size = typed<std::uint64_t>(buffer, "size");
            if (size > bytes.size())
                throw std::invalid_argument("a buffer runs past the payload");
            // Each buffer fills a place of its own that the message keeps free for it.
            if (!call.message.contains(at) || !call.message.at(at).is_null())
                throw std::invalid_argument("a buffer's place is not a null of the message");
            call.message.at(at) = json::binary(Bytes(), call.buffers.size());
            call.buffers.push_back(bytes.substr(0, size));
            bytes.remove_prefix(size);
        }
        if (!bytes.empty())
            throw std::invalid_argument("bytes follow the last buffer");
        return call;
    } catch (const std::exception& e) {
        return Error { EINVAL, format("%@ payload has the wrong shape: %@", frameKindName(FrameKind::NativeCallback), e.what()) };
    }
}

// ---- answers whose message is JSON text -------------------------------------------------------

std::string encode(const CallbackAnswer& m)
{
    std::string head = dump({ { "callbackId", m.callbackId }, { "status", m.status }, { "keep", m.keepCallback } });
    auto headLength = static_cast<std::uint32_t>(head.size());
    std::string out;
    out.reserve(sizeof headLength + head.size() + m.messageJson.size());
    out.append(reinterpret_cast<const char*>(&headLength), sizeof headLength);
    out += head;
    out += m.messageJson;
    return out;
}

template<>
Result<CallbackAnswer> decode<CallbackAnswer>(std::string_view payload)
{
    try {
        auto [head, status, message] = answerHead(payload);
        if (message.empty())
            throw std::invalid_argument("no message");
        return CallbackAnswer { typed<std::string>(head, "callbackId"), status, typed<bool>(head, "keep"), message };
    } catch (const std::exception& e) {
        return Error { EINVAL, format("%@ payload has the wrong shape: %@", frameKindName(FrameKind::CallbackAnswer), e.what()) };
    }
}

} // namespace penwick::channel

// ---- the callback of an answer -----------------------------------------------------------------

namespace penwick::channel {

std::optional<std::string> answerCallbackId(std::string_view payload)
{
    try {
        auto [text, rest] = splitHead(payload);
        json head = json::parse(text, nullptr, false);
        if (head.is_discarded())
            return std::nullopt;
        return typed<std::string>(head, "callbackId");
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace penwick::channel
