#include "plugins/file/WHFilesystemURLProtocol.h"

#include <fcntl.h>

#include "base/WHURL.h"
#include "plugins/file/WHFile.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick {

std::optional<WHFilesystemURLProtocol::Target> WHFilesystemURLProtocol::targetOfURL(std::string_view text)
{
    auto url = WHURL::URLWithString(text);
    if (!url || url->scheme() != kScheme || url->host() != "localhost" || !url->path())
        return std::nullopt;
    auto components = url->pathComponents();
    if (components.size() < 2)
        return std::nullopt;
    // As the plugin splits a full path off its URL: everything from the second "/" on.
    const std::string& path = *url->path();
    size_t slash = path.find('/', 1);
    return Target { components[1], slash == std::string::npos ? std::string() : path.substr(slash) };
}

std::optional<platform::ServedFile> WHFilesystemURLProtocol::fileForURL(const std::string& url) const
{
    auto* plugin = m_slot.plugin();
    auto target = targetOfURL(url);
    if (!plugin || !target)
        return std::nullopt;
    auto fileSystem = std::dynamic_pointer_cast<WHLocalFilesystem>(plugin->fileSystems().fileSystemByName(target->fileSystemName));
    return fileSystem ? fileIn(*fileSystem, target->path) : std::nullopt;
}

std::optional<platform::ServedFile> WHFilesystemURLProtocol::fileIn(const WHLocalFilesystem& fileSystem, const std::string& path)
{
    auto local = fileSystem.filesystemPathForPath(path);
    // O_NONBLOCK keeps a FIFO from blocking the open; the scheme serves regular files only.
    auto fd = local ? fileSystem.openBeneath(path, O_RDONLY | O_NONBLOCK) : Result<FileDescriptor>(Error {});
    if (!fd)
        return std::nullopt;
    return platform::ServedFile { *local, WHLocalFilesystem::getMimeTypeFromPath(local).value_or("*/*"), std::nullopt,
        std::make_shared<FileDescriptor>(std::move(*fd)) };
}

} // namespace penwick
