#include "bridge/WHPluginResult.h"

#include <array>
#include <atomic>

#include "bridge/WHBase64.h"
#include "bridge/WHJSONSerializing.h"
#include "base/Format.h"
#include "base/Log.h"

namespace penwick {
namespace {
std::atomic<bool> s_verbose { false };

} // namespace

WHPluginResult::WHPluginResult() = default;

WHPluginResult::WHPluginResult(std::int32_t status, std::optional<Value> message)
    : m_status(status)
    , m_message(std::move(message))
{
}

const std::string& WHPluginResult::statusMessage(std::int32_t status)
{
    static const std::array<std::string, 10> messages { "No result", "OK", "Class not found", "Illegal access",
        "Instantiation error", "Malformed url", "IO error", "Invalid action", "JSON error", "Error" };
    static const std::string none;
    return status >= 0 && status < 10 ? messages[static_cast<size_t>(status)] : none;
}

WHPluginResult WHPluginResult::resultWithStatus(CommandStatus status)
{
    return { static_cast<std::int32_t>(status), std::nullopt };
}

WHPluginResult WHPluginResult::resultWithStatus(CommandStatus status, std::string text)
{
    return { static_cast<std::int32_t>(status), Value(std::move(text)) };
}

WHPluginResult WHPluginResult::resultWithStatusMessageAsArray(CommandStatus status, ValueArray array)
{
    return { static_cast<std::int32_t>(status), Value(std::move(array)) };
}

WHPluginResult WHPluginResult::resultWithStatusMessageAsInt(CommandStatus status, std::int32_t value)
{
    return { static_cast<std::int32_t>(status), Value(value) };
}

WHPluginResult WHPluginResult::resultWithStatusMessageAsDouble(CommandStatus status, double value)
{
    return { static_cast<std::int32_t>(status), Value(value) };
}

WHPluginResult WHPluginResult::resultWithStatusMessageAsBool(CommandStatus status, bool value)
{
    return { static_cast<std::int32_t>(status), Value(value) };
}

WHPluginResult WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus status, ValueObject object)
{
    return { static_cast<std::int32_t>(status), Value(std::move(object)) };
}

// Byte buffers stay bytes in the message: its JSON form writes each as its ArrayBuffer marker, and a
// web view that can hand bytes to the page as they are takes them without Base64.
WHPluginResult WHPluginResult::resultWithStatusMessageAsArrayBuffer(CommandStatus status, const Bytes& bytes)
{
    return { static_cast<std::int32_t>(status), Value::binary(bytes) };
}

WHPluginResult WHPluginResult::resultWithStatusMessageAsMultipart(CommandStatus status, const ValueArray& messages)
{
    return { static_cast<std::int32_t>(status), Value { { "WHType", "MultiPart" }, { "messages", messages } } };
}

bool WHPluginResult::carriesBytes() const { return m_message && WHJSONSerializing::containsBytes(*m_message); }

WHPluginResult WHPluginResult::resultWithStatusMessageToErrorObject(CommandStatus status, std::int32_t errorCode)
{
    return { static_cast<std::int32_t>(status), Value { { "code", errorCode } } };
}

std::optional<std::string> WHPluginResult::argumentsAsJSON() const
{
    // The pretty-printed one-element array [message] without its brackets, written directly so
    // that a large message is not copied into an array first.
    static const Value s_null;
    std::string out = "\n  ";
    if (auto error = WHJSONSerializing::appendPrettyJSON(out, m_message ? *m_message : s_null, 1)) {
        log::message(format("NSArray JSONString error: %@", *error));
        return std::nullopt;
    }
    out += '\n';
    return out;
}

void WHPluginResult::setVerbose(bool verbose) { s_verbose = verbose; }
bool WHPluginResult::isVerbose() { return s_verbose; }

} // namespace penwick
