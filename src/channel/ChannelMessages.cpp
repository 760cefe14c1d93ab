#include "channel/ChannelMessages.h"

#include <cerrno>
#include <exception>
#include <stdexcept>

#include "base/Format.h"
#include "base/Utf8.h"

namespace penwick::channel {
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
ExecCall fromJson<ExecCall>(json& value)
{
    if (!value.is_array() || value.size() != 4)
        throw std::invalid_argument("not a list of four");
    return ExecCall { std::move(value[0]), std::move(value[1]), std::move(value[2]), std::move(value[3]) };
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
    return EngineConsole { typed<std::string>(value, "source"), typed<std::int64_t>(value, "line"),
        typed<std::string>(value, "message") };
}

template<>
FrameGone fromJson<FrameGone>(json& value)
{
    return FrameGone { typed<std::uint64_t>(value, "frame") };
}

} // namespace

std::string encode(const Hello& m) { return dump({ { "version", m.version }, { "token", m.token }, { "pid", m.pid } }); }
std::string encode(const NewContext& m)
{
    return dump({ { "frame", m.frame }, { "main", m.main }, { "url", m.url }, { "owner", m.owner }, { "opaque", m.opaque } });
}
std::string encode(const ContextSetup& m)
{
    return dump({ { "bridge", m.bridge }, { "console", m.console }, { "setup", m.setup }, { "load", m.load ? json(*m.load) : json() } });
}
std::string encode(const ExecCall& m) { return dump(json::array({ m.callbackId, m.service, m.action, m.arguments })); }
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
std::string encode(const EngineConsole& m) { return dump({ { "source", m.source }, { "line", m.line }, { "message", m.message } }); }
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
template Result<ExecCall> decode<ExecCall>(std::string_view);
template Result<ExecTooLarge> decode<ExecTooLarge>(std::string_view);
template Result<ConsoleCall> decode<ConsoleCall>(std::string_view);
template Result<EngineConsole> decode<EngineConsole>(std::string_view);
template Result<FrameGone> decode<FrameGone>(std::string_view);

} // namespace penwick::channel
