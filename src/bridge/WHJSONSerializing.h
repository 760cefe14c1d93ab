#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bridge/Value.h"

namespace penwick::WHJSONSerializing {

// Pretty-printed JSON of an array / an object; logs the fixed error line and answers nothing on
// failure (text that is not UTF-8, a value JSON cannot hold).
std::optional<std::string> JSONString(const ValueArray& array);
std::optional<std::string> JSONString(const ValueObject& object);

// Parses text whose top level is an array or an object; logs and answers nothing otherwise.
std::optional<Value> JSONObject(std::string_view text);

} // namespace penwick::WHJSONSerializing
