#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace penwick {

// A payload in pieces that stay where they are (a message's head beside the byte buffers of the
// value it answers with), sent as one without being copied together first. `owner` keeps every
// piece's memory alive.
struct SharedPayload {
    std::shared_ptr<const void> owner;
    std::vector<std::string_view> pieces;

    static SharedPayload of(std::shared_ptr<const std::string> bytes)
    {
        std::string_view whole = *bytes;
        return { std::move(bytes), { whole } };
    }

    std::size_t size() const
    {
        std::size_t size = 0;
        for (auto piece : pieces)
            size += piece.size();
        return size;
    }

    std::string joined() const
    {
        std::string out;
        out.reserve(size());
        for (auto piece : pieces)
            out += piece;
        return out;
    }
};

} // namespace penwick
