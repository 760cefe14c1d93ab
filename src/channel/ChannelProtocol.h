#pragma once

// The private channel between the host (UI process) and its web-process extension: one Unix
// stream socket per web process, opened by the extension. This header describes the frames and
// declares their payloads. Both sides include it, so it holds only plain C++.
//
// Every frame is a fixed header followed by `length` payload bytes:
//
//   offset 0   u32 length   payload bytes that follow the header
//   offset 4   u32 kind     a FrameKind
//   offset 8   u64 page     the web page the frame is about (WebKit's page id), 0 for none
//   offset 16  u64 context  the script context the frame is about (host-assigned id), 0 for none
//
// Integers are in the byte order of the machine (both ends run on it). Payloads are UTF-8 text:
// JSON where the kind says so, raw script text for Evaluate; Exec, NativeCallback and CallbackAnswer
// are a JSON head followed by raw bytes or text (their messages below).
//
// Who waits: only the web process. It sends NewContext, Exec and ExecTooLarge and then blocks
// until the matching answer (ContextSetup, ExecDone) arrives; Evaluate frames that come in
// meanwhile are kept and run once the page's call has returned. Evaluate, NativeCallback and
// CallbackAnswer frames reach the page in the order they were sent. The host never blocks on the socket: it reads and
// writes it from its main loop without waiting and queues what the socket cannot take yet; the web
// process waits for an answer awake for some microseconds before it sleeps.
//
// Size: no sender writes a payload over the limit the host announced (at most kMaxPayload). A page
// call too large for one frame is replaced by ExecTooLarge, which the host answers with an error
// result for that call; a script too large for one frame travels as EvaluatePiece frames ended by
// an Evaluate frame. An answer larger than the limit is not sent: the host fails the page's call.
//
// Large answers: an answer (NativeCallback, CallbackAnswer) larger than kAnswerPieceBytes travels
// as AnswerPiece frames, in order, one answer's pieces at a time; the host sends its other frames
// between two pieces, so a small answer or an ExecDone never waits behind more than one piece. The
// page gets a large answer once its last piece has come, as if it had been sent then: answers to
// other callbacks may overtake it, while scripts and later answers to the same callback keep their
// place behind it.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/Value.h"

namespace penwick::channel {

// Raised whenever a frame's layout or meaning changes; both ends must agree.
inline constexpr std::uint32_t kVersion = 9;

// No frame is larger than this; a reader that sees a larger length closes the connection (a broken
// or hostile peer). Senders check against the announced limit, which may only be lower.
inline constexpr std::uint32_t kMaxPayload = 256u * 1024u * 1024u;

enum class FrameKind : std::uint32_t {
    // web process -> host, first frame: Hello.
    Hello = 1,
    // web process -> host, answered with ContextSetup: a frame's window object was cleared.
    // page = the page id; payload NewContext.
    NewContext = 2,
    // host -> web process: what to install in the new context. context = the id the host gave
    // it (0: nothing); payload ContextSetup.
    ContextSetup = 3,
    // web process -> host, answered with ExecDone: `hostbridge.exec` was called. payload ExecCall.
    Exec = 4,
    // host -> web process: the action of the last Exec or ExecTooLarge has returned. No payload.
    ExecDone = 5,
    // web process -> host: a call of the host's console object. payload ConsoleCall.
    Console = 6,
    // web process -> host: a message of the engine's own console. payload EngineConsole.
    EngineConsole = 7,
    // host -> web process: run this script in the page's main frame, or, when `context` is set, in
    // the document of that context only (an answer to its call; dropped once that document is
    // gone). payload = the script (the end of it when EvaluatePiece frames came before).
    Evaluate = 8,
    // web process -> host, answered with ExecDone: a page call whose arguments exceed the limit.
    // payload ExecTooLarge.
    ExecTooLarge = 9,
    // web process -> host: a frame of the page went away with its script context. payload FrameGone.
    FrameGone = 10,
    // host -> web process: the next piece of a script too large for one frame.
    EvaluatePiece = 11,
    // host -> web process: call the page's native callback with an answer whose byte buffers travel
    // as raw bytes, in the document of `context` (the one that asked). payload NativeCallback.
    NativeCallback = 12,
    // host -> web process: call the page's native callback with an answer whose message is JSON
    // text, in the document of `context`. Answers in a row for one document run together.
    // payload CallbackAnswer.
    CallbackAnswer = 13,
    // host -> web process: a piece of a large answer (see above); page and context are the
    // answer's. payload AnswerPiece.
    AnswerPiece = 14,
    // web process -> host: the page's next script dialog (alert, confirm, prompt) is opened by the
    // document of `context`; answered with ExecDone, so the host knows before the dialog comes.
    // context 0 (not answered): that dialog is over, or the engine did not open it. No payload.
    DialogOpener = 15,
};
inline constexpr std::uint32_t kLastFrameKind = static_cast<std::uint32_t>(FrameKind::DialogOpener);

// Answers larger than this travel in pieces of at most this many bytes (fewer where the announced
// limit is lower).
inline constexpr std::size_t kAnswerPieceBytes = 1024 * 1024;

const char* frameKindName(FrameKind kind);

struct FrameHeader {
    std::uint32_t length = 0;
    std::uint32_t kind = 0;
    std::uint64_t page = 0;
    std::uint64_t context = 0;
};
static_assert(sizeof(FrameHeader) == 24, "the header layout is part of the protocol");

struct Frame {
    FrameKind kind {};
    std::uint64_t page = 0;
    std::uint64_t context = 0;
    std::string payload;
};

// The header's length for a payload of `size` bytes, or nothing when it exceeds `limit` (never
// more than kMaxPayload, so the value always fits the header's u32).
inline std::optional<std::uint32_t> frameLength(std::size_t size, std::size_t limit = kMaxPayload)
{
    if (limit > kMaxPayload)
        limit = kMaxPayload;
    if (size > limit)
        return std::nullopt;
    return static_cast<std::uint32_t>(size);
}

// Appends one encoded frame to `out`; refused (nothing appended) when the payload exceeds `limit`.
[[nodiscard]] Result<void> appendFrame(std::string& out, FrameKind kind, std::uint64_t page, std::uint64_t context,
    std::string_view payload, std::size_t limit = kMaxPayload);

// Splits a byte stream into frames. Feed it what the socket gave; take frames while there are.
class FrameReader {
public:
    void feed(const char* data, std::size_t size) { m_buffer.append(data, size); }
    // Headers announcing a longer payload than this are Broken (never more than kMaxPayload).
    void setMaxPayload(std::size_t limit) { m_maxPayload = std::min<std::size_t>(limit, kMaxPayload); }

    enum class Status { Frame, NeedMore, Broken };
    // Takes the next complete frame out of the buffer. Broken: the peer sent a header no version
    // of this protocol writes; the connection must be closed.
    Status next(Frame& frame);
    bool empty() const { return m_buffer.size() == m_offset; }
    // Bytes fed and not yet taken as frames.
    std::size_t pending() const { return m_buffer.size() - m_offset; }

private:
    void compact();

    std::string m_buffer;
    std::size_t m_offset = 0;
    std::size_t m_maxPayload = kMaxPayload;
};

// The callback an answer payload (NativeCallback or CallbackAnswer) is for; nothing when its head
// does not read as an answer's.
std::optional<std::string> answerCallbackId(std::string_view payload);

// How the host tells each web process where the channel is: the extensions' initialisation data,
// a GVariant of this type: (version, socket path, token, payload limit). Each web process gets a
// token of its own, its credential: a connection that introduces itself with it speaks for that
// process, and only for the pages the process has claimed.
inline constexpr const char* kInitDataType = "(ussu)";

// The engine's own message by which a web page tells its web view (in the UI process) which
// process hosts it: a GVariant of kPageClaimType, (token). The engine delivers it only from the
// process that hosts the page, so no other process can claim the page, whatever tokens it holds.
// Sent when the process makes the page and before each main-frame document is announced.
inline constexpr const char* kPageClaimMessage = "penwick-page-claim";
inline constexpr const char* kPageClaimType = "(s)";

// The engine's own message (no parameters) by which a web page tells its web view that the user has
// interacted with a frame whose origin is not the main frame document's: from then on the engine
// lets that frame navigate the main frame, and which frame starts a navigation the UI process is
// not told. Sent once for each main-frame document, from the first trusted input event of such a
// frame, before the page's own handlers of the event run (and so before any navigation they start).
inline constexpr const char* kForeignActivationMessage = "penwick-foreign-activation";

// Called once at start-up by each end. A large call or answer is built, copied and framed in
// buffers of its own size; left to the allocator's defaults, each of them is a fresh mapping whose
// every page faults in again on every call (most of the time of a 16 MiB answer). Buffers up to
// 64 MiB are taken from the heap instead, reusing what the previous call freed; no more than 64 MiB
// of freed memory is kept.
void keepFrameBuffersInHeap();

// The payload of every JSON frame of the page channel, declared once. Each message has one
// encoder and one decoder, used by both processes; a decoder never throws: a payload of the wrong
// shape comes back as an error naming the frame kind and what was wrong.

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
    std::size_t level = 0; // index into kConsoleLevels
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

// The same answer with its buffers left where they are in the payload, for a reader that copies
// them once, to where they go: each buffer's place in `message` holds an empty byte buffer whose
// subtype is its index in `buffers`.
struct NativeCallbackView {
    std::string callbackId;
    std::int32_t status = 0;
    bool keepCallback = false;
    Value message;
    std::vector<std::string_view> buffers;
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
Result<NativeCallbackView> decode<NativeCallbackView>(std::string_view payload);
template<>
Result<CallbackAnswer> decode<CallbackAnswer>(std::string_view payload);

} // namespace penwick::channel
