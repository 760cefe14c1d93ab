#include "bridge/WHPluginResult.h"

#include <array>
#include <mutex>

#include "bridge/WHBase64.h"
#include "bridge/WHJSONSerializing.h"

namespace penwick {

// Shared by the copies of a result, which may be on several threads: the value is read once.
struct WHPluginResult::Text {
    std::shared_ptr<const std::string> json;
    std::once_flag read;
    std::shared_ptr<const Value> value;
};

WHPluginResult::WHPluginResult() = default;

WHPluginResult::WHPluginResult(std::int32_t status, std::optional<Value> message)
    : m_status(status)
    , m_message(message ? std::make_shared<const Value>(std::move(*message)) : nullptr)
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

WHPluginResult WHPluginResult::resultWithStatusMessageAsArrayBuffer(CommandStatus status, Bytes&& bytes)
{
    return { static_cast<std::int32_t>(status), Value::binary(std::move(bytes)) };
}

WHPluginResult WHPluginResult::resultWithStatusSharedMessage(CommandStatus status, std::shared_ptr<const Value> message)
{
    WHPluginResult result(static_cast<std::int32_t>(status), std::nullopt);
    result.m_message = std::move(message);
    return result;
}

WHPluginResult WHPluginResult::resultWithStatusMessageAsMultipart(CommandStatus status, const ValueArray& messages)
{
    return { static_cast<std::int32_t>(status), Value { { "WHType", "MultiPart" }, { "messages", messages } } };
}

WHPluginResult WHPluginResult::resultWithStatusMessageAsJSONText(CommandStatus status, std::string json)
{
    WHPluginResult result(static_cast<std::int32_t>(status), std::nullopt);
    result.m_text = std::make_shared<Text>();
    result.m_text->json = std::make_shared<const std::string>(std::move(json));
    return result;
}

const std::shared_ptr<const Value>& WHPluginResult::message() const
{
    if (!m_text)
        return m_message;
    std::call_once(m_text->read, [text = m_text.get()] {
        text->value = std::make_shared<const Value>(Value::parse(*text->json, nullptr, false));
    });
    return m_text->value;
}

const std::shared_ptr<const std::string>& WHPluginResult::messageText() const
{
    static const std::shared_ptr<const std::string> s_none;
    return m_text ? m_text->json : s_none;
}

bool WHPluginResult::carriesBytes() const { return !m_text && m_message && WHJSONSerializing::containsBytes(*m_message); }

} // namespace penwick
