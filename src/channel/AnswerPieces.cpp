#include "channel/AnswerPieces.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/Format.h"

namespace penwick::channel {

std::size_t answerPieceBytes(std::size_t limit)
{
    limit = std::min<std::size_t>(limit, kMaxPayload);
    // A piece's frame carries its head too; a limit too low for even that still lets one byte pass.
    return std::max<std::size_t>(1, std::min(kAnswerPieceBytes, limit > sizeof(AnswerPieceHead) ? limit - sizeof(AnswerPieceHead) : 0));
}

void appendAnswerPieceHead(std::string& out, FrameKind answerKind, std::uint64_t page, std::uint64_t context,
    std::uint64_t total, std::uint64_t offset, std::size_t size)
{
    FrameHeader header { static_cast<std::uint32_t>(sizeof(AnswerPieceHead) + size), static_cast<std::uint32_t>(FrameKind::AnswerPiece),
        page, context };
    AnswerPieceHead head { static_cast<std::uint32_t>(answerKind), 0, total, offset };
    out.append(reinterpret_cast<const char*>(&header), sizeof header);
    out.append(reinterpret_cast<const char*>(&head), sizeof head);
}

Result<char*> AnswerAssembler::place(const FrameView& piece, std::size_t size)
{
    auto broken = [this](std::string why) -> Error {
        m_partial = {};
        return Error { EPROTO, "a piece of a large answer " + why };
    };
    AnswerPieceHead head;
    if (piece.kind != FrameKind::AnswerPiece || piece.payload.size() < sizeof head)
        return broken("is too short for its head");
    std::memcpy(&head, piece.payload.data(), sizeof head);
    auto kind = static_cast<FrameKind>(head.kind);
    if (kind != FrameKind::NativeCallback && kind != FrameKind::CallbackAnswer)
        return broken(format("names kind %@, not an answer", head.kind));
    if (head.total > m_maxPayload)
        return broken(format("announces %@ bytes, more than the limit of %@", head.total, m_maxPayload));
    if (!size || head.offset > head.total || size > head.total - head.offset)
        return broken(format("carries %@ bytes at %@ of %@", size, head.offset, head.total));
    if (!m_partial.bytes) {
        if (head.offset != 0)
            return broken(format("starts at %@, not where its answer begins", head.offset));
        // The whole answer's buffer, taken once: it never grows, nor is it copied again.
        auto buffer = AnswerBuffer::create(static_cast<std::size_t>(head.total), m_memory);
        if (!buffer)
            return broken(format("announces %@ bytes, more memory than there is", head.total));
        m_partial = { kind, piece.page, piece.context, std::move(buffer) };
        m_filled = 0;
    } else if (m_partial.kind != kind || m_partial.page != piece.page || m_partial.context != piece.context
        || m_partial.bytes->size() != head.total || m_filled != head.offset) {
        return broken("does not follow the one before");
    }
    m_placed = size;
    return m_partial.bytes->data() + m_filled;
}

AnswerAssembler::Status AnswerAssembler::placed(AssembledAnswer& answer)
{
    m_filled += std::exchange(m_placed, 0);
    if (m_filled < m_partial.bytes->size())
        return Status::Partial;
    answer = std::move(m_partial);
    m_partial = {};
    return Status::Complete;
}

Result<AnswerAssembler::Status> AnswerAssembler::take(const FrameView& piece, AssembledAnswer& answer)
{
    std::size_t size = piece.payload.size() >= sizeof(AnswerPieceHead) ? piece.payload.size() - sizeof(AnswerPieceHead) : 0;
    auto at = place(piece, size);
    if (!at)
        return at.error();
    std::memcpy(*at, piece.payload.data() + sizeof(AnswerPieceHead), size);
    return placed(answer);
}

} // namespace penwick::channel
