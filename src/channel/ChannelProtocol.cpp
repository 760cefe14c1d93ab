#include "channel/ChannelProtocol.h"

#include <cerrno>
#include <cstring>
#include <malloc.h>

#include "base/Format.h"

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
    FrameView view;
    auto status = next(view);
    if (status == Status::Frame) {
        frame.kind = view.kind;
        frame.page = view.page;
        frame.context = view.context;
        frame.payload.assign(view.payload);
    }
    return status;
}

FrameReader::Status FrameReader::next(FrameView& frame)
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
    frame.payload = std::string_view(m_buffer).substr(m_offset + sizeof header, header.length);
    m_offset += sizeof header + header.length;
    return Status::Frame;
}

bool FrameReader::partial(FrameView& frame, std::size_t& length) const
{
    if (m_buffer.size() - m_offset < sizeof(FrameHeader))
        return false;
    FrameHeader header;
    std::memcpy(&header, m_buffer.data() + m_offset, sizeof header);
    std::size_t have = m_buffer.size() - m_offset - sizeof header;
    if (header.length > m_maxPayload || header.kind < static_cast<std::uint32_t>(FrameKind::Hello) || header.kind > kLastFrameKind
        || have >= header.length)
        return false;
    frame.kind = static_cast<FrameKind>(header.kind);
    frame.page = header.page;
    frame.context = header.context;
    frame.payload = std::string_view(m_buffer).substr(m_offset + sizeof header);
    length = header.length;
    return true;
}

void FrameReader::dropPartial()
{
    m_buffer.resize(m_offset);
    compact();
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

} // namespace penwick::channel
