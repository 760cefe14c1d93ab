#include "channel/AnswerPieces.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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

Result<AnswerAssembler::Status> AnswerAssembler::take(const Frame& piece, Frame& answer)
{
    auto broken = [this](std::string why) -> Error {
        m_partial.reset();
        return Error { EPROTO, "a piece of a large answer " + why };
    };
    AnswerPieceHead head;
    if (piece.kind != FrameKind::AnswerPiece || piece.payload.size() < sizeof head)
        return broken("is too short for its head");
    std::memcpy(&head, piece.payload.data(), sizeof head);
    std::string_view bytes = std::string_view(piece.payload).substr(sizeof head);
    auto kind = static_cast<FrameKind>(head.kind);
    if (kind != FrameKind::NativeCallback && kind != FrameKind::CallbackAnswer)
        return broken(format("names kind %@, not an answer", head.kind));
    if (head.total > m_maxPayload)
        return broken(format("announces %@ bytes, more than the limit of %@", head.total, m_maxPayload));
    if (bytes.empty() || head.offset > head.total || bytes.size() > head.total - head.offset)
        return broken(format("carries %@ bytes at %@ of %@", bytes.size(), head.offset, head.total));
    if (!m_partial) {
        if (head.offset != 0)
            return broken(format("starts at %@, not where its answer begins", head.offset));
        m_partial = Frame { kind, piece.page, piece.context, {} };
        // The whole answer's buffer, taken once: it never grows, nor is it copied again.
        m_partial->payload.reserve(static_cast<std::size_t>(head.total));
        m_total = head.total;
    } else if (m_partial->kind != kind || m_partial->page != piece.page || m_partial->context != piece.context || m_total != head.total
        || m_partial->payload.size() != head.offset) {
        return broken("does not follow the one before");
    }
    m_partial->payload.append(bytes.data(), bytes.size());
    if (m_partial->payload.size() < m_total)
        return Status::Partial;
    answer = std::move(*m_partial);
    m_partial.reset();
    return Status::Complete;
}

} // namespace penwick::channel
