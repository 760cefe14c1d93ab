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
    // "W x H": two whole numbers from 1 to kMaxWindowSide joined by "x" or "X", blanks allowed
    // around each; nothing for anything else.
    static std::optional<WindowSize> windowSize(std::string_view text);
    // "fullscreen" in any case, blanks around it allowed.
    static bool isFullScreen(std::string_view text);
    // A number of seconds, 0 or more ("5", "0.5"), blanks around it allowed; nothing for anything
    // else (a sign, an exponent, no digits).
    static std::optional<double> nonNegativeSeconds(std::string_view text);

    static constexpr int kMaxWindowSide = 16384;
};

} // namespace penwick
