#include "plugins/file/FileSystemRegistry.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "plugins/file/LocalDisk.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick {
namespace {

// Lexically normal, without a trailing "/" (the root stays "/").
std::string standardizePath(const std::string& path)
{
    if (path.empty())
        return path;
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// Symbolic links resolved as far as the path exists; the rest is kept as written.
std::string resolveSymlinks(const std::string& path)
{
    std::error_code error;
    std::filesystem::path p(path);
    auto resolved = std::filesystem::weakly_canonical(p, error);
    return error ? standardizePath(path) : standardizePath(resolved.string());
}

} // namespace

void FileSystemRegistry::start(const platform::AppEnvironment& environment, const std::map<std::string, std::string>& settings)
{
    m_environment = &environment;
    m_fileSystems.clear();

    m_appTempPath = standardizePath(environment.temporaryDirectory());
    registerFilesystem(std::make_shared<WHLocalFilesystem>("temporary", m_appTempPath));
    m_appSupportPath = getSupportDirectory(environment.applicationSupportDirectory(), {}).value_or("");
    m_appDataPath = getSupportDirectory(environment.applicationSupportDirectory(), { "files" }).value_or("");
    registerFilesystem(std::make_shared<WHLocalFilesystem>("persistent", m_appDataPath));
    m_appDocsPath = standardizePath(environment.documentsDirectory());
    m_appCachePath = getSupportDirectory(environment.cachesDirectory(), {}).value_or("");
    registerExtraFileSystems(getExtraFileSystemsPreference(settings), getAvailableFileSystems());

    // Links may lead from one file system into another, never out of them all.
    std::vector<std::string> roots;
    for (const auto& fileSystem : m_fileSystems)
        if (auto* local = dynamic_cast<const WHLocalFilesystem*>(fileSystem.get()))
            roots.push_back(local->fsRoot());
    for (const auto& fileSystem : m_fileSystems)
        if (auto* local = dynamic_cast<WHLocalFilesystem*>(fileSystem.get()))
            local->setReachableRoots(roots);
}

std::vector<std::string> FileSystemRegistry::servedFolders() const
{
    // The whole disk is no folder to hand the web process; the sandbox keeps it out.
    std::vector<std::string> folders;
    for (const auto& fileSystem : m_fileSystems)
        if (auto* local = dynamic_cast<const WHLocalFilesystem*>(fileSystem.get()); local && !local->fsRoot().empty() && local->fsRoot() != "/")
            folders.push_back(local->fsRoot());
    return folders;
}

std::optional<std::string> FileSystemRegistry::getSupportDirectory(Result<std::string> base, const std::vector<std::string>& components)
{
    if (!base) {
        log::message(format("unable to get support directory: %@", base.error().message));
        return std::nullopt;
    }
    std::string path = *base + "/" + m_environment->bundleIdentifier();
    for (const auto& component : components)
        path += "/" + component;
    if (!disk::probe(path).exists) {
        std::error_code error;
        std::filesystem::create_directories(path, error);
        if (error) {
            log::message(format("unable to create support directory: %@", path + ": " + error.message()));
            return std::nullopt;
        }
    }
    return path;
}

std::vector<std::string> FileSystemRegistry::getExtraFileSystemsPreference(const std::map<std::string, std::string>& settings)
{
    std::string setting = "documents,cache,bundle,root";
    if (auto it = settings.find("osxextrafilesystems"); it != settings.end())
        setting = asciiLowercase(it->second);
    // An empty value names no file system: it is how a config asks for none, not an unknown name.
    std::vector<std::string> names;
    if (setting.empty())
        return names;
    size_t start = 0;
    while (true) {
        size_t comma = setting.find(',', start);
        names.push_back(setting.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return names;
}

std::map<std::string, std::string> FileSystemRegistry::getAvailableFileSystems() const
{
    return {
        { "documents", m_appDocsPath },
        { "cache", m_appCachePath },
        { "bundle", m_environment->resourcePath() },
        { "root", "/" },
    };
}

void FileSystemRegistry::registerExtraFileSystems(const std::vector<std::string>& names, const std::map<std::string, std::string>& available)
{
    // Each unknown name is logged once, and a long list of them in a few lines.
    constexpr size_t kUnknownNamesLogged = 10;
    std::set<std::string> installed, unknown;
    for (const auto& name : names) {
        if (installed.count(name))
            continue;
        auto it = available.find(name);
        if (it == available.end()) {
            if (unknown.insert(name).second && unknown.size() <= kUnknownNamesLogged)
                log::message(format("Unrecognized extra filesystem identifier: %@", name));
            continue;
        }
        registerFilesystem(std::make_shared<WHLocalFilesystem>(name, it->second));
        installed.insert(name);
    }
    if (unknown.size() > kUnknownNamesLogged)
        log::message(format("%@ more unrecognized extra filesystem identifiers not listed", unknown.size() - kUnknownNamesLogged));
}

void FileSystemRegistry::registerFilesystem(std::shared_ptr<WHFileSystem> fileSystem) { m_fileSystems.push_back(std::move(fileSystem)); }

std::shared_ptr<WHFileSystem> FileSystemRegistry::fileSystemByName(const std::string& name) const
{
    for (const auto& fileSystem : m_fileSystems) {
        if (fileSystem->name() == name)
            return fileSystem;
    }
    return nullptr;
}

std::shared_ptr<WHFileSystem> FileSystemRegistry::filesystemForURL(const WHFilesystemURL& url) const
{
    return url.fileSystemName() ? fileSystemByName(*url.fileSystemName()) : nullptr;
}

std::optional<WHFilesystemURL> FileSystemRegistry::fileSystemURLforArg(const std::string& arg) const
{
    if (arg.rfind("file://", 0) == 0) {
        auto url = WHURL::URLWithString(arg);
        if (!url || !url->path())
            return std::nullopt;
        return fileSystemURLforLocalPath(resolveSymlinks(*url->path()));
    }
    return WHFilesystemURL::fileSystemURLWithString(arg);
}

std::optional<WHFilesystemURL> FileSystemRegistry::fileSystemURLforLocalPath(const std::string& localPath) const
{
    std::optional<WHFilesystemURL> best;
    for (const auto& fileSystem : m_fileSystems) {
        auto url = fileSystem->URLforFilesystemPath(localPath);
        if (!url)
            continue;
        if (!best || url->fullPath().value_or("").size() < best->fullPath().value_or("").size())
            best = std::move(url);
    }
    return best;
}

std::optional<std::string> FileSystemRegistry::filesystemPathForURL(const WHFilesystemURL& url) const
{
    for (const auto& fileSystem : m_fileSystems) {
        if (url.fileSystemName() && fileSystem->name() == *url.fileSystemName()) {
            if (auto path = fileSystem->filesystemPathForURL(url))
                return path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FileSystemRegistry::encodePath(const std::string& path)
{
    auto decoded = WHURL::percentDecode(path);
    if (!decoded)
        return std::nullopt;
    return WHURL::percentEscape(*decoded, WHURL::EscapeSet::Path);
}

std::optional<std::uint64_t> FileSystemRegistry::checkFreeDiskSpace(const std::string& path)
{
    // A folder not made yet would live on the volume of its nearest existing parent.
    return path.empty() ? std::nullopt : disk::freeSpaceNear(path);
}

std::optional<FileSystemRegistry::Target> FileSystemRegistry::targetForString(const std::string& arg) const
{
    auto url = fileSystemURLforArg(arg);
    // A NUL ("%00") in the full path would end it early once the kernel reads it.
    if (!url || url->fullPath().value_or("").find('\0') != std::string::npos)
        return std::nullopt;
    auto fileSystem = filesystemForURL(*url);
    if (!fileSystem)
        return std::nullopt;
    return Target { std::move(*url), std::move(fileSystem) };
}

disk::PathInfo FileSystemRegistry::probeInRoots(const std::string& localPath) const
{
    // Only what the file systems hold is answered for; anything else is as if missing.
    for (const auto& fileSystem : m_fileSystems) {
        auto* local = dynamic_cast<const WHLocalFilesystem*>(fileSystem.get());
        auto fullPath = local ? local->fullPathForFileSystemPath(localPath) : std::nullopt;
        if (!fullPath || fullPath->find('?') != std::string::npos)
            continue;
        if (auto info = local->probePath(*fullPath); info.exists)
            return info;
    }
    return {};
}

} // namespace penwick
