#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace penwick {

// The names of a '/'-separated path in order, empty ones (from repeated or outer '/') left out;
// "." and ".." are kept for the caller to read as it must.
inline std::vector<std::string> pathComponents(std::string_view path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

} // namespace penwick
