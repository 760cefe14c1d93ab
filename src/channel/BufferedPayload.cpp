#include "channel/BufferedPayload.h"

#include <cerrno>
#include <cstring>

namespace penwick::channel {
namespace {

template<typename Length>
void appendLength(std::string& out, std::size_t length)
{
    auto value = static_cast<Length>(length);
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Takes a length of type `Length` and then that many bytes from the front of `bytes`.
template<typename Length>
std::optional<std::string_view> takeSized(std::string_view& bytes)
{
    Length length = 0;
    if (bytes.size() < sizeof length)
        return std::nullopt;
    std::memcpy(&length, bytes.data(), sizeof length);
    bytes.remove_prefix(sizeof length);
    if (length > bytes.size())
        return std::nullopt;
    std::string_view taken = bytes.substr(0, static_cast<std::size_t>(length));
    bytes.remove_prefix(static_cast<std::size_t>(length));
    return taken;
}

} // namespace

std::size_t BufferedPayload::size(std::size_t headSize, const std::vector<std::string_view>& buffers)
{
    std::size_t size = sizeof(std::uint32_t) + headSize;
    for (auto buffer : buffers)
        size += sizeof(std::uint64_t) + buffer.size();
    return size;
}

std::string BufferedPayload::join(std::string_view head, const std::vector<std::string_view>& buffers)
{
    std::string out;
    out.reserve(size(head.size(), buffers));
    appendLength<std::uint32_t>(out, head.size());
    out += head;
    for (auto buffer : buffers) {
        appendLength<std::uint64_t>(out, buffer.size());
        out += buffer;
    }
    return out;
}

SharedPayload BufferedPayload::shared(std::string_view head, const std::vector<std::string_view>& buffers,
    std::shared_ptr<const void> buffersOwner)
{
    struct Owned {
        std::string lead;
        std::string lengths;
        std::shared_ptr<const void> buffers;
    };
    auto owned = std::make_shared<Owned>();
    owned->lead.reserve(sizeof(std::uint32_t) + head.size());
    appendLength<std::uint32_t>(owned->lead, head.size());
    owned->lead += head;
    for (auto buffer : buffers)
        appendLength<std::uint64_t>(owned->lengths, buffer.size());
    owned->buffers = std::move(buffersOwner);
    SharedPayload payload;
    payload.pieces.reserve(1 + 2 * buffers.size());
    payload.pieces.emplace_back(owned->lead);
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        payload.pieces.emplace_back(owned->lengths.data() + i * sizeof(std::uint64_t), sizeof(std::uint64_t));
        if (!buffers[i].empty())
            payload.pieces.push_back(buffers[i]);
    }
    payload.owner = std::move(owned);
    return payload;
}

std::vector<std::string_view> BufferedPayload::pieces(const std::vector<std::string_view>& headParts,
    const std::vector<std::string_view>& buffers, std::string& lengths)
{
    std::size_t headSize = 0;
    for (auto part : headParts)
        headSize += part.size();
    // Reserved first: the pieces point into it.
    lengths.clear();
    lengths.reserve(sizeof(std::uint32_t) + buffers.size() * sizeof(std::uint64_t));
    appendLength<std::uint32_t>(lengths, headSize);
    for (auto buffer : buffers)
        appendLength<std::uint64_t>(lengths, buffer.size());
    std::vector<std::string_view> pieces;
    pieces.reserve(1 + headParts.size() + 2 * buffers.size());
    pieces.emplace_back(lengths.data(), sizeof(std::uint32_t));
    pieces.insert(pieces.end(), headParts.begin(), headParts.end());
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        pieces.emplace_back(lengths.data() + sizeof(std::uint32_t) + i * sizeof(std::uint64_t), sizeof(std::uint64_t));
        pieces.push_back(buffers[i]);
    }
    return pieces;
}

Result<BufferedPayload> BufferedPayload::split(std::string_view payload)
{
    BufferedPayload split;
    auto head = takeSized<std::uint32_t>(payload);
    if (!head)
        return Error { EINVAL, "the head runs past the payload" };
    split.head = *head;
    while (!payload.empty()) {
        auto buffer = takeSized<std::uint64_t>(payload);
        if (!buffer)
            return Error { EINVAL, "a buffer runs past the payload" };
        split.buffers.push_back(*buffer);
    }
    return split;
}

std::optional<std::string_view> BufferedPayload::headOf(std::string_view payload)
{
    return takeSized<std::uint32_t>(payload);
}

} // namespace penwick::channel
