#pragma once

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace penwick {

// The page library (www/webhost/ of the host's source), built into the program so that every app
// loads the host's own copy from the reserved path without shipping one: `/_webhost/<file>` of the
// app origin and `whfile://localhost/_webhost/<file>`.
class WHPageLibrary {
public:
    // The reserved folder, as the first part of a URL's path.
    static constexpr std::string_view kFolder = "_webhost";

    // Every file: its path inside the library ("webhost.mjs") and its bytes. Generated at build time.
    static const std::vector<std::pair<std::string_view, std::string_view>>& files();
    // The bytes of `name` (a path inside the library, undecoded), or none.
    static std::optional<std::string_view> file(std::string_view name);
};

} // namespace penwick
