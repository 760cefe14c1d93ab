#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

namespace penwick {

// A value as it travels between the page and the plugins: arrays, objects with string keys,
// strings, numbers, booleans, the null marker (JSON null) and byte buffers (nlohmann's binary
// type). Booleans stay booleans all the way to the page.
using Value = nlohmann::json;
using ValueArray = Value::array_t;
using ValueObject = Value::object_t;
using Bytes = std::vector<std::uint8_t>;

} // namespace penwick
