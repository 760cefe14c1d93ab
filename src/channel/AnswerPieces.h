#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "channel/AnswerBuffer.h"
#include "channel/ChannelProtocol.h"

namespace penwick::channel {

// The head of an AnswerPiece payload; the piece's bytes follow it.
struct AnswerPieceHead {
    std::uint32_t kind = 0; // the answer's FrameKind: NativeCallback or CallbackAnswer
    std::uint32_t reserved = 0;
    std::uint64_t total = 0; // the whole answer payload's size
    std::uint64_t offset = 0; // where in it this piece's bytes go
};
static_assert(sizeof(AnswerPieceHead) == 24, "the piece head layout is part of the protocol");

// Whether an answer payload of `size` bytes travels in pieces under `limit`, and how large they are.
std::size_t answerPieceBytes(std::size_t limit);
inline bool travelsInPieces(FrameKind kind, std::size_t size, std::size_t limit)
{
    return (kind == FrameKind::NativeCallback || kind == FrameKind::CallbackAnswer) && size > answerPieceBytes(limit);
}
// Appends the frame header and piece head of one AnswerPiece frame carrying `size` bytes of an
// answer of `total` bytes from `offset` on; the caller sends the bytes after it.
void appendAnswerPieceHead(std::string& out, FrameKind answerKind, std::uint64_t page, std::uint64_t context,
    std::uint64_t total, std::uint64_t offset, std::size_t size);
// A large answer put together: its frame's kind and addressing, and its payload's bytes.
struct AssembledAnswer {
    FrameKind kind {};
    std::uint64_t page = 0;
    std::uint64_t context = 0;
    std::shared_ptr<AnswerBuffer> bytes;
    std::string_view payload() const { return bytes ? bytes->view() : std::string_view(); }
};

// Puts a large answer together from its AnswerPiece frames, in one buffer of the answer's size taken
// once its first piece comes (from `setMemory`'s memory). Pieces out of order, of another answer
// before this one is whole, or announcing more than the limit or than the memory there is are
// refused: the stream is broken and its connection must close. Holds at most one answer of at most
// the limit.
class AnswerAssembler {
public:
    void setMaxPayload(std::size_t limit) { m_maxPayload = std::min<std::size_t>(limit, kMaxPayload); }
    void setMemory(const AnswerBuffer::Memory& memory) { m_memory = memory; }
    enum class Status { Partial, Complete };
    // Complete: `answer` holds the whole answer.
    [[nodiscard]] Result<Status> take(const FrameView& piece, AssembledAnswer& answer);
    // The same in two steps, for a reader that puts a piece's bytes in place itself: `piece` holds
    // at least the piece's head, and the piece carries `size` bytes. Where they go; once they are
    // all there, `placed` takes them.
    [[nodiscard]] Result<char*> place(const FrameView& piece, std::size_t size);
    Status placed(AssembledAnswer& answer);
    bool idle() const { return !m_partial.bytes; }

private:
    AssembledAnswer m_partial;
    std::size_t m_filled = 0;
    std::size_t m_placed = 0;
    std::size_t m_maxPayload = kMaxPayload;
    AnswerBuffer::Memory m_memory = AnswerBuffer::heap();
};

} // namespace penwick::channel
