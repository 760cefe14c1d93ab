#pragma once

#include "platform/FileSchemeResponder.h"
#include "plugins/file/WHFilePluginSlot.h"

namespace penwick {

class WHLocalFilesystem;

// Finds the file behind a whfile URL for the engine's scheme handler: through the running file
// plugin's registry (found in `slot`), so only files inside a registered local file system are ever served. Before
// any file plugin started, nothing is.
class WHFilesystemURLProtocol final : public platform::FileSource {
public:
    static constexpr const char* kScheme = "whfile";
    explicit WHFilesystemURLProtocol(const WHFilePluginSlot& slot) : m_slot(slot) { }
    std::optional<platform::ServedFile> fileForURL(const std::string& url) const override;

    // The file system name and the path inside it that a URL the engine loads names. Unlike the
    // plugin's full paths, the path is all path: the query and fragment are not part of it, and
    // escapes in it are names, so "%3F" and "%23" give a "?" and a "#" inside a file name. None
    // for a URL that is not "whfile://localhost/<name>...".
    struct Target {
        std::string fileSystemName;
        std::string path;
    };
    static std::optional<Target> targetOfURL(std::string_view url);
    // The file at `path` inside `fileSystem`, opened from its root's descriptor; none when nothing
    // may be served there.
    static std::optional<platform::ServedFile> fileIn(const WHLocalFilesystem& fileSystem, const std::string& path);

private:
    const WHFilePluginSlot& m_slot;
};

} // namespace penwick
