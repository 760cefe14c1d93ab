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
// are a JSON head with byte buffers beside it (BufferedPayload.h). Each payload's message is
// declared in ChannelMessages.h.
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

// A frame whose payload still lies where it was read (valid until its reader is fed or read again).
struct FrameView {
    FrameView() = default;
    FrameView(FrameKind kind, std::uint64_t page, std::uint64_t context, std::string_view payload)
        : kind(kind), page(page), context(context), payload(payload) { }
    FrameView(const Frame& frame) : FrameView(frame.kind, frame.page, frame.context, frame.payload) { }
    FrameKind kind {};
    std::uint64_t page = 0;
    std::uint64_t context = 0;
    std::string_view payload;
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
    // The same, its payload left in the reader's buffer.
    Status next(FrameView& frame);
    bool empty() const { return m_buffer.size() == m_offset; }
    // The frame whose header has come but not all of its payload, with the payload so far and its
    // whole payload's length; false when there is none (or its header is broken: next() says so).
    bool partial(FrameView& frame, std::size_t& length) const;
    // Forgets the partial frame and its bytes so far: its reader takes the rest from the stream itself.
    void dropPartial();
    // Bytes fed and not yet taken as frames.
    std::size_t pending() const { return m_buffer.size() - m_offset; }

private:
    void compact();

    std::string m_buffer;
    std::size_t m_offset = 0;
    std::size_t m_maxPayload = kMaxPayload;
};

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

// The engine's own message by which a web page tells its web view that the user has interacted
// with a frame whose origin is not the main frame document's: a GVariant of kForeignActivationType,
// (the frame's origin). From then on the engine lets that frame navigate the main frame, and which
// frame starts a navigation the UI process is not told. Sent on each trusted input event of such a
// frame, before the page's own handlers of the event run (and so before any navigation they start
// or file chooser they open, whose requests follow on the same connection).
inline constexpr const char* kForeignActivationMessage = "penwick-foreign-activation";
inline constexpr const char* kForeignActivationType = "(s)";

// Called once at start-up by each end. A large call or answer is built, copied and framed in
// buffers of its own size; left to the allocator's defaults, each of them is a fresh mapping whose
// every page faults in again on every call (most of the time of a 16 MiB answer). Buffers up to
// 64 MiB are taken from the heap instead, reusing what the previous call freed; no more than 64 MiB
// of freed memory is kept.
void keepFrameBuffersInHeap();

} // namespace penwick::channel

// The payloads.
#include "channel/ChannelMessages.h"
