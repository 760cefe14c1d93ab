#pragma once

// The private channel between the host (UI process) and its web-process extension: one Unix
// stream socket per web process, opened by the extension. This header is the one description of
// it; both sides include it, so it holds only plain C++.
//
// Every frame is a fixed header followed by `length` payload bytes:
//
//   offset 0   u32 length   payload bytes that follow the header
//   offset 4   u32 kind     a FrameKind
//   offset 8   u64 page     the web page the frame is about (WebKit's page id), 0 for none
//   offset 16  u64 context  the script context the frame is about (host-assigned id), 0 for none
//
// Integers are in the byte order of the machine (both ends run on it). Payloads are UTF-8 text:
// JSON where the kind says so, raw script text for Evaluate.
//
// Who waits: only the web process. It sends NewContext and Exec and then blocks until the matching
// answer (ContextSetup, ExecDone) arrives; Evaluate frames that come in meanwhile are kept and run
// once the page's call has returned. The host never blocks on the socket: it reads and writes it
// from its main loop without waiting and queues what the socket cannot take yet.

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace penwick::channel {

// Raised whenever a frame's layout or meaning changes; both ends must agree.
inline constexpr std::uint32_t kVersion = 1;

// A frame larger than this is refused and the connection is closed: a broken or hostile peer.
inline constexpr std::uint32_t kMaxPayload = 256u * 1024u * 1024u;

enum class FrameKind : std::uint32_t {
    // web process -> host, first frame: {"version": kVersion, "token": "...", "pid": n}.
    Hello = 1,
    // web process -> host, answered with ContextSetup: a frame's window object was cleared.
    // page = the page id; payload {"frame": id, "main": bool, "url": "..."}.
    NewContext = 2,
    // host -> web process: what to install in the new context. context = the id the host gave
    // it; payload {"bridge": bool, "console": bool, "setup": [script...], "load": script|null}.
    ContextSetup = 3,
    // web process -> host, answered with ExecDone: `hostbridge.exec` was called.
    // payload = JSON of the call's four arguments, [callbackId, service, action, arguments].
    Exec = 4,
    // host -> web process: the action of the last Exec has returned. No payload.
    ExecDone = 5,
    // web process -> host: a call of the host's console object. payload ["level", text].
    Console = 6,
    // web process -> host: a message of the engine's own console (script errors among them).
    // payload {"source": url, "line": n, "message": "..."}.
    EngineConsole = 7,
    // host -> web process: run this script in the page's main frame. payload = the script.
    Evaluate = 8,
};

// The console levels, as the Console frame names them.
inline constexpr const char* kConsoleLevels[] = { "log", "trace", "debug", "info", "warn", "error" };

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

// Appends one encoded frame to `out`.
inline void appendFrame(std::string& out, FrameKind kind, std::uint64_t page, std::uint64_t context,
    std::string_view payload)
{
    FrameHeader header { static_cast<std::uint32_t>(payload.size()), static_cast<std::uint32_t>(kind), page, context };
    out.append(reinterpret_cast<const char*>(&header), sizeof header);
    out.append(payload.data(), payload.size());
}

// Splits a byte stream into frames. Feed it what the socket gave; take frames while there are.
class FrameReader {
public:
    void feed(const char* data, std::size_t size) { m_buffer.append(data, size); }

    enum class Status { Frame, NeedMore, Broken };
    // Takes the next complete frame out of the buffer. Broken: the peer sent a header no version
    // of this protocol writes; the connection must be closed.
    Status next(Frame& frame)
    {
        if (m_buffer.size() - m_offset < sizeof(FrameHeader))
            return compact(), Status::NeedMore;
        FrameHeader header;
        std::memcpy(&header, m_buffer.data() + m_offset, sizeof header);
        if (header.length > kMaxPayload || header.kind < static_cast<std::uint32_t>(FrameKind::Hello)
            || header.kind > static_cast<std::uint32_t>(FrameKind::Evaluate))
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

    bool empty() const { return m_buffer.size() == m_offset; }

private:
    void compact()
    {
        if (m_offset) {
            m_buffer.erase(0, m_offset);
            m_offset = 0;
        }
    }

    std::string m_buffer;
    std::size_t m_offset = 0;
};

// How the host tells each web process where the channel is: the extensions' initialisation data,
// a GVariant of this type: (version, socket path, token).
inline constexpr const char* kInitDataType = "(uss)";

} // namespace penwick::channel
