// whfile URLs and the local file system's path mapping: whatever the text, a path the mapping
// answers stays inside the file system's root.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "plugins/file/WHFilesystemURL.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick::fuzz::filesystem_url_target {


namespace {
// Lexically, without the disk: "." and ".." resolved, repeated "/" collapsed.
bool insideRoot(const std::string& local, std::string root)
{
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::string normal = std::filesystem::path(local).lexically_normal().string();
    return normal.compare(0, root.size(), root) == 0 && (normal.size() == root.size() || normal[root.size()] == '/');
}

void checkInside(const std::optional<std::string>& local, const WHLocalFilesystem& fs)
{
    if (local && !insideRoot(*local, fs.fsRoot()))
        fuzz::fail(("mapped path leaves the root: " + *local).c_str(), __FILE__, __LINE__);
}
} // namespace

FUZZ_TARGET(filesystem_url)
{
    static WHLocalFilesystem fileSystems[] = { { "persistent", "/srv/fuzz/root" }, { "temporary", "/srv/fuzz/tmp/" } };
    std::string text(reinterpret_cast<const char*>(data), size);
    WHFilesystemURL url(text);
    (void)url.absoluteURL();
    for (auto& fs : fileSystems) {
        checkInside(fs.filesystemPathForURL(url), fs);
        checkInside(fs.filesystemPathForFullPath(text), fs);
        // A local path the file system owns comes back to itself through its URL.
        if (auto back = fs.URLforFilesystemPath(text))
            checkInside(fs.filesystemPathForURL(*back), fs);
    }
    return 0;
}

} // namespace penwick::fuzz::filesystem_url_target
