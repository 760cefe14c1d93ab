#pragma once

#include <optional>
#include <string_view>

namespace penwick {

struct WindowSize;

// How setting values (always strings) are read, in one place.
class WHSettingsConversions {
public:
    // Leading blanks, optional sign and leading zeros skipped; true when the next character is
    // Y, y, T, t or 1-9.
    static bool boolValue(std::string_view text);
    // Leading blanks, optional sign, the digits up to the first other character; 0 without digits.
    static long long integerValue(std::string_view text);
    // "W" "x" "H" split at every "x": exactly two parts, each read as an integer.
    static std::optional<WindowSize> windowSize(std::string_view text);
};

} // namespace penwick
