#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Value.h"
#include "bridge/WHBase64.h"

namespace penwick {

enum class CommandStatus : std::int32_t {
    NoResult = 0,
    OK = 1,
    ClassNotFoundException = 2,
    IllegalAccessException = 3,
    InstantiationException = 4,
    MalformedUrlException = 5,
    IOException = 6,
    InvalidAction = 7,
    JSONException = 8,
    Error = 9,
};

enum class KeepCallback { No, Yes };

// One answer of a plugin action to the page. A plain value: plugins build it on the main thread or
// on the work queue and hand it to the command delegate from either.
class WHPluginResult {
public:
    WHPluginResult(); // status 0, no message
    WHPluginResult(std::int32_t status, std::optional<Value> message);

    static WHPluginResult resultWithStatus(CommandStatus status);
    static WHPluginResult resultWithStatus(CommandStatus status, std::string message); // messageAsString
    static WHPluginResult resultWithStatusMessageAsArray(CommandStatus status, ValueArray message);
    static WHPluginResult resultWithStatusMessageAsInt(CommandStatus status, std::int32_t message);
    static WHPluginResult resultWithStatusMessageAsDouble(CommandStatus status, double message);
    static WHPluginResult resultWithStatusMessageAsBool(CommandStatus status, bool message);
    static WHPluginResult resultWithStatusMessageAsDictionary(CommandStatus status, ValueObject message);
    static WHPluginResult resultWithStatusMessageAsArrayBuffer(CommandStatus status, const Bytes& message);
    static WHPluginResult resultWithStatusMessageAsArrayBuffer(CommandStatus status, Bytes&& message);
    // A message already made and shared, for one whose memory its maker wants back.
    static WHPluginResult resultWithStatusSharedMessage(CommandStatus status, std::shared_ptr<const Value> message);
    static WHPluginResult resultWithStatusMessageAsMultipart(CommandStatus status, const ValueArray& messages);
    // A message its action wrote as JSON text already: for large answers of one known shape (a
    // folder's entries), which then cost no value tree. The text must be well-formed JSON with no
    // byte buffers.
    static WHPluginResult resultWithStatusMessageAsJSONText(CommandStatus status, std::string json);

    // The ten status messages, indexed by status value.
    static const std::string& statusMessage(std::int32_t status);

    std::int32_t status() const { return m_status; }
    // Shared and never changed once made: a copy of the result, or an answer on its way out,
    // keeps the same bytes instead of copying them.
    // A message given as JSON text is read from it when first asked for.
    const std::shared_ptr<const Value>& message() const;
    // The message's JSON text when the action wrote it so, else null.
    const std::shared_ptr<const std::string>& messageText() const;
    bool keepCallback() const { return m_keepCallback; }
    void setKeepCallbackAsBool(bool keep) { m_keepCallback = keep; }
    void setKeepCallback(KeepCallback keep) { m_keepCallback = keep == KeepCallback::Yes; }

    // True when the message holds byte buffers (an ArrayBuffer or MultiPart answer).
    bool carriesBytes() const;

    // Kept with the result until its answer has left the host: a read's share of the bytes its
    // web view's answers may hold.
    void setHold(std::shared_ptr<const void> hold) { m_hold = std::move(hold); }
    const std::shared_ptr<const void>& hold() const { return m_hold; }

private:
    struct Text;

    std::int32_t m_status = 0;
    std::shared_ptr<const Value> m_message;
    std::shared_ptr<Text> m_text;
    bool m_keepCallback = false;
    std::shared_ptr<const void> m_hold;
};


} // namespace penwick
