#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"

// Base64 of byte buffers: standard alphabet (RFC 4648), "=" padding, one line, no line breaks at
// any length. All functions are stateless and safe on any thread.
namespace penwick::WHBase64 {

std::string base64EncodedString(const std::uint8_t* data, size_t size);
inline std::string base64EncodedString(const Bytes& bytes) { return base64EncodedString(bytes.data(), bytes.size()); }

// The decoder ArrayBuffer markers go through: the text must be whole groups of four
// alphabet characters, the last group possibly ending in "=" or "==". Anything else (blanks,
// line breaks, stray "=", other characters) is rejected.
std::optional<Bytes> decodeStrict(std::string_view text);

} // namespace penwick::WHBase64

namespace penwick {
// The ArrayBuffer marker by which bytes travel to and from the page:
// {"WHType": "ArrayBuffer", "data": Base64 of the bytes}.
Value arrayBufferMarker(const Bytes& bytes);
} // namespace penwick
