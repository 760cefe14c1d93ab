#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace penwick {

// A page's callback id bound to the script context (document) whose call it answers. The bridge
// hands plugins the bound form as the command's callback id; plugins pass it back unchanged with
// their results, and the command delegate reads the context from it, so that an answer reaches
// only the document that asked. A page cannot name another document: whatever it passes is bound
// again by its own bridge.
struct WHCallbackAddress {
    std::uint64_t context = 0; // 0: not bound (the main frame's document)
    std::string callbackId;

    // "INVALID" (no answer wanted) stays as it is.
    static std::string bind(std::uint64_t context, std::string_view callbackId);
    static WHCallbackAddress parse(std::string_view boundId);
};

} // namespace penwick
