#pragma once

#include <cstdint>

namespace penwick::webext {

class ExtensionChannel;

// What a native function installed in a context needs to know about where it lives.
struct ContextRef {
    std::uint64_t page = 0;
    std::uint64_t context = 0;
    int level = 0; // console functions only
    // The channel its calls travel on (lives as long as the process).
    ExtensionChannel* channel = nullptr;
};

} // namespace penwick::webext
