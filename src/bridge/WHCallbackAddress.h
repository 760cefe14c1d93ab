#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace penwick {

// Whom a call's answers reach: the script context (document) that made the call, as the bridge
// knows it from the channel (never from the page), and the page's callback id there. So an answer
// reaches only the document that asked, whatever id a page writes.
struct WHCallbackAddress {
    // The callback id by which the page library asks for no answer.
    static constexpr std::string_view kNoCallback = "INVALID";

    std::uint64_t context = 0; // 0: the main frame's document
    std::string callbackId { kNoCallback };

    bool wantsAnswer() const { return callbackId != kNoCallback; }
    auto operator<=>(const WHCallbackAddress&) const = default;
};

} // namespace penwick
