#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/SharedPayload.h"

namespace penwick::channel {

// The one layout of a payload that carries byte buffers (ExecCall, NativeCallback, CallbackAnswer):
// a JSON head, then the buffers as they are, so no byte of them is ever escaped or parsed:
//
//   u32 head length, the head, then for each buffer: u64 size, its bytes.
//
// The head says where each buffer belongs. Lengths are in the machine's byte order, as the frame
// header's are.
struct BufferedPayload {
    std::string_view head;
    std::vector<std::string_view> buffers;

    // The payload's size for a head of `headSize` bytes and these buffers.
    static std::size_t size(std::size_t headSize, const std::vector<std::string_view>& buffers);
    // The payload in one piece.
    static std::string join(std::string_view head, const std::vector<std::string_view>& buffers);
    // The payload as pieces that leave the buffers where they are, `buffersOwner` kept with them;
    // the head is whole in the first piece.
    static SharedPayload shared(std::string_view head, const std::vector<std::string_view>& buffers,
        std::shared_ptr<const void> buffersOwner);
    // The payload as pieces for a sender that writes them from where they are: the head is the
    // concatenation of `headParts`. `lengths` holds the length fields the pieces point at.
    static std::vector<std::string_view> pieces(const std::vector<std::string_view>& headParts,
        const std::vector<std::string_view>& buffers, std::string& lengths);
    // The head and the buffers, as views into `payload`; an error when a length runs past its end.
    static Result<BufferedPayload> split(std::string_view payload);
    // Only the head, for a reader that needs nothing else.
    static std::optional<std::string_view> headOf(std::string_view payload);
};

} // namespace penwick::channel
