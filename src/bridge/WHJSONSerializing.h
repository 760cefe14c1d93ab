#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"

namespace penwick::WHJSONSerializing {

// Pretty-printed JSON of an array / an object (two-space indentation, one member per line, keys
// in order, text as UTF-8). Logs the fixed error line and answers nothing when a text is not
// well-formed UTF-8. Byte buffers are written as their ArrayBuffer markers.
std::optional<std::string> JSONString(const ValueArray& array);
std::optional<std::string> JSONString(const ValueObject& object);

// Appends `value` pretty-printed as the layout above puts it `depth` levels deep (its inner lines
// indented by 2 * (depth + 1) spaces, its closing bracket by 2 * depth). Answers the error
// description when a text is not well-formed UTF-8; `out` then holds a partial text.
std::optional<std::string> appendPrettyJSON(std::string& out, const Value& value, int depth);

// True when `value` holds a byte buffer and nests no deeper than the JSON writer goes (a deeper
// value has no form the page can be given).
bool containsBytes(const Value& value);

// Parses text whose top level is an array or an object; logs and answers nothing otherwise.
std::optional<Value> JSONObject(std::string_view text);

} // namespace penwick::WHJSONSerializing
