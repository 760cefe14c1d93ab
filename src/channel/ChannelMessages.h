#pragma once

// The payload of every frame of the page channel that has one, declared once. Each message lists
// its fields in one PENWICK_<MESSAGE>_FIELDS(F) list of
//
//   F(type, name, initial value, presence)
//
// from which its struct, its encoder and its decoder are made (ChannelMessages.cpp); both
// processes use them. On the wire a message is a JSON object whose members are its fields by
// name, except where a message says otherwise (ExecCall's head is a list of its fields in order).
// A `Required` field must be there; a `Defaulted` one may be absent and then reads as its initial
// value. A std::optional field is written only when it holds a value. Byte buffers travel beside
// the JSON head as they are (BufferedPayload.h). A decoder never throws: a payload of another
// shape, a field of the wrong type or a required field missing comes back as an error naming the
// frame kind and the field.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/SharedPayload.h"
#include "base/Value.h"
#include "channel/ChannelProtocol.h"

namespace penwick::channel {

enum class Presence { Required, Defaulted };

#define PENWICK_CHANNEL_MEMBER(type, name, initial, presence) type name = initial;

// The console levels, in ConsoleCall::level and EngineConsole::level order.
inline constexpr const char* kConsoleLevels[] = { "log", "trace", "debug", "info", "warn", "error" };

// The web process introduces itself with the channel's version and its credential.
#define PENWICK_HELLO_FIELDS(F)                                                                                        \
    F(std::uint32_t, version, kVersion, Required)                                                                      \
    F(std::string, token, {}, Required)                                                                                \
    F(std::int64_t, pid, 0, Required)
struct Hello {
    static constexpr FrameKind kKind = FrameKind::Hello;
    PENWICK_HELLO_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// A new script context. `owner`: for an "about:" document that shares its parent's origin (a
// srcdoc or blank frame that is not sandboxed), the parent document's URL. `opaque`: the
// document's origin is opaque (a sandboxed frame, a data: URL). `parent`: for a sub-frame, the
// context id the host gave the parent frame's current document, found by the extension from the
// engine's frame tree (never from page script); 0 when unknown.
#define PENWICK_NEW_CONTEXT_FIELDS(F)                                                                                  \
    F(std::uint64_t, frame, 0, Required)                                                                               \
    F(bool, main, false, Required)                                                                                     \
    F(std::string, url, {}, Required)                                                                                  \
    F(std::string, owner, {}, Defaulted)                                                                               \
    F(bool, opaque, false, Defaulted)                                                                                  \
    F(std::uint64_t, parent, 0, Defaulted)
struct NewContext {
    static constexpr FrameKind kKind = FrameKind::NewContext;
    PENWICK_NEW_CONTEXT_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// What to install in a new context: the bridge, the host's console, scripts to run now and one to
// run once its window has loaded.
#define PENWICK_CONTEXT_SETUP_FIELDS(F)                                                                                \
    F(bool, bridge, false, Required)                                                                                   \
    F(bool, console, false, Required)                                                                                  \
    F(std::vector<std::string>, setup, {}, Required)                                                                   \
    F(std::optional<std::string>, load, {}, Defaulted)
struct ContextSetup {
    static constexpr FrameKind kKind = FrameKind::ContextSetup;
    PENWICK_CONTEXT_SETUP_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// A page call: its four arguments as the page passed them. The head is the JSON list of these
// fields in order (the page's engine writes it), with the places of the byte buffers among the
// arguments as one more element when there are any: [callbackId, service, action, arguments,
// [at...]]. Each buffer fills the argument at its place (the head holds null there); places rise.
#define PENWICK_EXEC_CALL_FIELDS(F)                                                                                    \
    F(Value, callbackId, {}, Required)                                                                                 \
    F(Value, service, {}, Required)                                                                                    \
    F(Value, action, {}, Required)                                                                                     \
    F(Value, arguments, {}, Required)
struct ExecCall {
    static constexpr FrameKind kKind = FrameKind::Exec;
    PENWICK_EXEC_CALL_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// A page call of `size` bytes that no frame can carry.
#define PENWICK_EXEC_TOO_LARGE_FIELDS(F)                                                                               \
    F(Value, callbackId, {}, Required)                                                                                 \
    F(Value, service, {}, Required)                                                                                    \
    F(Value, action, {}, Required)                                                                                     \
    F(std::uint64_t, size, 0, Required)
struct ExecTooLarge {
    static constexpr FrameKind kKind = FrameKind::ExecTooLarge;
    PENWICK_EXEC_TOO_LARGE_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// A call of the host's console object: a level (an index into kConsoleLevels) and at most one value.
#define PENWICK_CONSOLE_CALL_FIELDS(F)                                                                                 \
    F(std::size_t, level, 0, Required)                                                                                 \
    F(std::optional<Value>, value, {}, Defaulted)
struct ConsoleCall {
    static constexpr FrameKind kKind = FrameKind::Console;
    PENWICK_CONSOLE_CALL_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// A message of the engine's own console; a level this side does not know is shown as an error.
#define PENWICK_ENGINE_CONSOLE_FIELDS(F)                                                                               \
    F(std::string, source, {}, Required)                                                                               \
    F(std::int64_t, line, 0, Required)                                                                                 \
    F(std::string, message, {}, Required)                                                                              \
    F(std::size_t, level, 0, Required)
struct EngineConsole {
    static constexpr FrameKind kKind = FrameKind::EngineConsole;
    PENWICK_ENGINE_CONSOLE_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// A frame of the page went away with its script context.
#define PENWICK_FRAME_GONE_FIELDS(F) F(std::uint64_t, frame, 0, Required)
struct FrameGone {
    static constexpr FrameKind kKind = FrameKind::FrameGone;
    PENWICK_FRAME_GONE_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// The head of every answer for the page's native callback.
#define PENWICK_ANSWER_FIELDS(F)                                                                                       \
    F(std::string, callbackId, {}, Required)                                                                           \
    F(std::int32_t, status, 0, Required)                                                                               \
    F(bool, keepCallback, false, Required)

// An answer whose message holds byte buffers (binary values, at any depth). The buffers travel as
// they are beside the head, so the page gets them without a Base64 text or a script to parse; the
// head's `buffers` lists each one's place (a JSON pointer into the message, which holds null there).
#define PENWICK_NATIVE_CALLBACK_FIELDS(F) PENWICK_ANSWER_FIELDS(F) F(Value, message, {}, Required)
struct NativeCallback {
    static constexpr FrameKind kKind = FrameKind::NativeCallback;
    PENWICK_NATIVE_CALLBACK_FIELDS(PENWICK_CHANNEL_MEMBER)
};

// The same answer with its buffers left where they are in the payload, for a reader that copies
// them once, to where they go: each buffer's place in `message` holds an empty byte buffer whose
// subtype is its index in `buffers`.
struct NativeCallbackView {
    static constexpr FrameKind kKind = FrameKind::NativeCallback;
    PENWICK_NATIVE_CALLBACK_FIELDS(PENWICK_CHANNEL_MEMBER)
    std::vector<std::string_view> buffers;
};

// An answer whose message is JSON (the usual answer): the text travels as the payload's one buffer
// and goes to the page's own JSON reader, never through a script or a value tree of ours.
struct CallbackAnswer {
    static constexpr FrameKind kKind = FrameKind::CallbackAnswer;
    PENWICK_ANSWER_FIELDS(PENWICK_CHANNEL_MEMBER)
    // A view into the decoded payload.
    std::string_view messageJson;
};

std::string encode(const Hello& message);
std::string encode(const NewContext& message);
std::string encode(const ContextSetup& message);
std::string encode(const ExecCall& message);
std::string encode(const ExecTooLarge& message);
std::string encode(const ConsoleCall& message);
std::string encode(const EngineConsole& message);
std::string encode(const FrameGone& message);
std::string encode(const NativeCallback& message);
std::string encode(const CallbackAnswer& message);
// The same payload with the message's JSON text left where it is: the text is kept with the
// payload, not copied (a large answer an action wrote as text).
SharedPayload encodeCallbackAnswer(const std::string& callbackId, std::int32_t status, bool keepCallback,
    std::shared_ptr<const std::string> messageJson);
// The same payload from the answer's parts, without copying its message first.
std::string encodeNativeCallback(const std::string& callbackId, std::int32_t status, bool keepCallback, const Value& message);
// The same payload in pieces that leave the message's byte buffers where they are: the message is
// kept with them, not copied.
SharedPayload encodeNativeCallback(const std::string& callbackId, std::int32_t status, bool keepCallback,
    std::shared_ptr<const Value> message);

// What the extension puts in place of the closing bracket of the page's ExecCall head (the JSON
// list of the call's fields that the page's engine wrote) when buffers travel with it at `places`.
std::string execHeadEnd(const std::vector<std::uint64_t>& places);

// decode<Hello>(payload), decode<NewContext>(payload), ...
template<typename Message>
Result<Message> decode(std::string_view payload);
template<>
Result<ExecCall> decode<ExecCall>(std::string_view payload);
template<>
Result<NativeCallback> decode<NativeCallback>(std::string_view payload);
template<>
Result<NativeCallbackView> decode<NativeCallbackView>(std::string_view payload);
template<>
Result<CallbackAnswer> decode<CallbackAnswer>(std::string_view payload);

// The callback an answer payload (NativeCallback or CallbackAnswer) is for; nothing when its head
// does not read as an answer's.
std::optional<std::string> answerCallbackId(std::string_view payload);

} // namespace penwick::channel
