#include "plugins/file/WHFilesystemURLProtocol.h"

#include "plugins/file/WHFile.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick {

std::optional<platform::ServedFile> WHFilesystemURLProtocol::fileForURL(const std::string& url) const
{
    auto* plugin = WHFile::sharedFilePlugin();
    if (!plugin)
        return std::nullopt;
    auto fileSystemURL = WHFilesystemURL::fileSystemURLWithString(url);
    auto fileSystem = plugin->filesystemForURL(fileSystemURL);
    if (!fileSystem)
        return std::nullopt;
    auto path = fileSystem->filesystemPathForURL(fileSystemURL);
    if (!path)
        return std::nullopt;
    return platform::ServedFile { *path, WHLocalFilesystem::getMimeTypeFromPath(path).value_or("*/*") };
}

} // namespace penwick
