#include "host/WHPageLibrary.h"

namespace penwick {

std::optional<std::string_view> WHPageLibrary::file(std::string_view name)
{
    for (const auto& [path, bytes] : files()) {
        if (path == name)
            return bytes;
    }
    return std::nullopt;
}

} // namespace penwick
