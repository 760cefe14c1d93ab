#pragma once

// The payload of every JSON frame of the page channel, declared once. Each message has one
// encoder and one decoder, used by both processes; a decoder never throws: a payload of the wrong
// shape comes back as an error naming the frame kind and what was wrong.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/Value.h"
#include "channel/ChannelProtocol.h"

namespace penwick::channel {

// The console levels, as the Console frame names them, in ConsoleCall::level order.
inline constexpr const char* kConsoleLevels[] = { "log", "trace", "debug", "info", "warn", "error" };

// {"version": n, "token": "...", "pid": n}
struct Hello {
    static constexpr FrameKind kKind = FrameKind::Hello;
    std::uint32_t version = kVersion;
    std::string token;
    std::int64_t pid = 0;
};

// {"frame": id, "main": bool, "url": "...", "owner": "...", "opaque": bool, "parent": id}
struct NewContext {
    static constexpr FrameKind kKind = FrameKind::NewContext;
    std::uint64_t frame = 0;
    bool main = false;
    std::string url;
    // For an "about:" document that shares its parent's origin (a srcdoc or blank frame that is
    // not sandboxed): the parent document's URL. Empty otherwise.
    std::string owner {};
    // The document's origin is opaque (a sandboxed frame, a data: URL).
    bool opaque = false;
    // For a sub-frame: the context id the host gave the parent frame's current document, found by
    // the extension from the engine's frame tree (never from page script); 0 when unknown.
    std::uint64_t parent = 0;
};

// {"bridge": bool, "console": bool, "setup": [script...], "load": script|null}
struct ContextSetup {
    static constexpr FrameKind kKind = FrameKind::ContextSetup;
    bool bridge = false;
    bool console = false;
    std::vector<std::string> setup;
    std::optional<std::string> load;
};

// A page call: its four arguments as the page passed them, byte buffers among the arguments
// travelling as raw bytes beside the JSON head:
//   u32 head length, head [callbackId, service, action, arguments] or, with buffers,
//   [callbackId, service, action, arguments, [at...]], then for each place `at` in order: u64 size,
//   the bytes.
// Each buffer fills the argument at its place (the head holds null there); places rise. The
// extension writes the head in the page's own engine and the bytes straight from the page's
// buffers (see the web-process extension).
struct ExecCall {
    static constexpr FrameKind kKind = FrameKind::Exec;
    Value callbackId;
    Value service;
    Value action;
    Value arguments;
};

// {"callbackId": v, "service": v, "action": v, "size": n}: a page call of `size` bytes that no
// frame can carry.
struct ExecTooLarge {
    static constexpr FrameKind kKind = FrameKind::ExecTooLarge;
    Value callbackId;
    Value service;
    Value action;
    std::uint64_t size = 0;
};

// ["level"] or ["level", value]
struct ConsoleCall {
    static constexpr FrameKind kKind = FrameKind::Console;
    std::size_t level = 0; // index into kConsoleLevels
    std::optional<Value> value;
};

// {"source": url, "line": n, "message": "..."}
struct EngineConsole {
    static constexpr FrameKind kKind = FrameKind::EngineConsole;
    std::string source;
    std::int64_t line = 0;
    std::string message;
};

// {"frame": id}
struct FrameGone {
    static constexpr FrameKind kKind = FrameKind::FrameGone;
    std::uint64_t frame = 0;
};

// One answer for the page's native callback whose message holds byte buffers (binary values, at any
// depth). The buffers travel as raw bytes after a JSON head, so the page gets them without a Base64
// text or a script to parse:
//   u32 head length, head {"callbackId": s, "status": n, "keep": bool, "message": v,
//   "buffers": [{"at": JSON pointer into message, "size": n}...]}, then each buffer's bytes in order.
// In the head's message each buffer's place holds null.
struct NativeCallback {
    static constexpr FrameKind kKind = FrameKind::NativeCallback;
    std::string callbackId;
    std::int32_t status = 0;
    bool keepCallback = false;
    Value message;
};

// One answer for the page's native callback whose message is JSON (the usual answer): the text
// goes to the page's own JSON reader, never through a script or a value tree of ours.
//   u32 head length, head {"callbackId": s, "status": n, "keep": bool}, then the message's JSON text.
struct CallbackAnswer {
    static constexpr FrameKind kKind = FrameKind::CallbackAnswer;
    std::string callbackId;
    std::int32_t status = 0;
    bool keepCallback = false;
    // Views into the decoded payload.
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
// The same payload from the answer's parts, without copying its message first.
std::string encodeNativeCallback(const std::string& callbackId, std::int32_t status, bool keepCallback, const Value& message);
// The size of an Exec payload with a head of `headSize` bytes and these buffers.
std::size_t execPayloadSize(std::size_t headSize, const std::vector<std::string_view>& buffers);

// decode<Hello>(payload), decode<NewContext>(payload), ...
template<typename Message>
Result<Message> decode(std::string_view payload);
template<>
Result<ExecCall> decode<ExecCall>(std::string_view payload);
template<>
Result<NativeCallback> decode<NativeCallback>(std::string_view payload);
template<>
Result<CallbackAnswer> decode<CallbackAnswer>(std::string_view payload);

} // namespace penwick::channel
