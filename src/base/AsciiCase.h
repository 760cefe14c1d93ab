#pragma once

#include <string>

namespace penwick {

// Lower-cases A-Z only: service and feature names are matched the same way whatever the locale.
inline std::string asciiLowercase(std::string s)
{
    for (auto& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

} // namespace penwick
