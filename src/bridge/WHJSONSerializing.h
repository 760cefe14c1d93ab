#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"

namespace penwick::WHJSONSerializing {

// Containers nest at most this deep in what the writer writes (counting the outermost one): deeper
// than any plugin answer needs, and the writer recurses, so it stops well before the stack does.
inline constexpr int kMaxDepth = 1000;
// The error description when the text would pass the size limit given to appendPrettyJSON.
inline constexpr const char* kTooLarge = "the text is larger than the limit";

// Appends `value` as pretty-printed JSON (two-space indentation, one member per line, keys in
// order, text as UTF-8, byte buffers as their ArrayBuffer markers) as it stands `depth` levels
// deep (its inner lines indented by 2 * (depth + 1) spaces, its closing bracket by 2 * depth). Answers the error
// description when a text is not well-formed UTF-8, or kTooLarge as soon as `out` would pass
// `limit` bytes (deep nesting multiplies indentation, so a small value can write a huge text);
// `out` then holds a partial text.
std::optional<std::string> appendPrettyJSON(std::string& out, const Value& value, int depth,
    size_t limit = std::string::npos);

// Appends `text` as a JSON string, quoted and escaped as appendPrettyJSON writes it; false, with
// a partial text in `out`, when `text` is not well-formed UTF-8.
[[nodiscard]] bool appendQuoted(std::string& out, std::string_view text);

// Whether `value` has containers nested more than `levels` deep, the outermost counting as one.
// Walks without recursion, so a value of any depth is measured safely.
bool nestedDeeperThan(const Value& value, int levels);

// True when `value` holds a byte buffer and nests no deeper than the JSON writer goes (a deeper
// value has no form the page can be given).
bool containsBytes(const Value& value);

} // namespace penwick::WHJSONSerializing
