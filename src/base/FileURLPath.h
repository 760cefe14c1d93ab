#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace penwick {

// The local path a file: URL names, read the way the engine reads it, for deciding whether it lies
// inside a folder without touching the disk.
class FileURLPath {
public:
    // The decoded path of a "file:" URL of this machine (no host, or "localhost"), with "." and
    // ".." resolved ("/" stops ".."), query and fragment dropped; nothing for other URLs.
    static std::optional<std::string> localPath(std::string_view url);
    // "." and ".." resolved, repeated "/" folded; ".." above the root stays at the root.
    static std::string normalized(std::string_view path);
    // True when `path` lies strictly below `folder` (both normalised); everything lies below "/".
    static bool isInside(std::string_view path, std::string_view folder);
    static bool isInsideAny(std::string_view path, const std::vector<std::string>& folders);
};

} // namespace penwick
