#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/AppEnvironment.h"
#include "plugins/file/LocalDisk.h"
#include "plugins/file/WHFileSystem.h"

namespace penwick {

// The page's named file systems: "temporary", "persistent", then the extras of the
// "osxextrafilesystems" setting, and the folders they live in. Filled by start() on the main
// thread and only read afterwards, also from background work and from the whfile scheme.
class FileSystemRegistry {
public:
    // A URL argument's file system URL and the file system that serves it.
    struct Target {
        WHFilesystemURL url;
        std::shared_ptr<WHFileSystem> fileSystem;
    };

    // Makes the folders and registers the file systems; links may then lead from one root into
    // another, never out of them all.
    void start(const platform::AppEnvironment& environment, const std::map<std::string, std::string>& settings);
    // Local folders of the file systems, but the whole disk.
    std::vector<std::string> servedFolders() const;
    const std::vector<std::shared_ptr<WHFileSystem>>& all() const { return m_fileSystems; }

    void registerFilesystem(std::shared_ptr<WHFileSystem> fileSystem);
    std::shared_ptr<WHFileSystem> fileSystemByName(const std::string& name) const;
    std::shared_ptr<WHFileSystem> filesystemForURL(const WHFilesystemURL& url) const;
    std::optional<WHFilesystemURL> fileSystemURLforArg(const std::string& arg) const;
    std::optional<WHFilesystemURL> fileSystemURLforLocalPath(const std::string& localPath) const;
    std::optional<std::string> filesystemPathForURL(const WHFilesystemURL& url) const;
    // The URL and file system of a whfile or file URL; none for one that does not parse, names
    // no registered file system or holds a NUL.
    std::optional<Target> targetForString(const std::string& arg) const;
    // What lies at a local path inside one of the file systems; anything else is as if missing.
    disk::PathInfo probeInRoots(const std::string& localPath) const;

    static std::optional<std::string> encodePath(const std::string& path);
    static std::optional<std::uint64_t> checkFreeDiskSpace(const std::string& path);
    static std::vector<std::string> getExtraFileSystemsPreference(const std::map<std::string, std::string>& settings);
    std::map<std::string, std::string> getAvailableFileSystems() const;
    void registerExtraFileSystems(const std::vector<std::string>& names, const std::map<std::string, std::string>& available);

    const std::string& appDocsPath() const { return m_appDocsPath; }
    const std::string& appSupportPath() const { return m_appSupportPath; }
    const std::string& appDataPath() const { return m_appDataPath; }
    const std::string& appTempPath() const { return m_appTempPath; }
    const std::string& appCachePath() const { return m_appCachePath; }

private:
    std::optional<std::string> getSupportDirectory(Result<std::string> base, const std::vector<std::string>& components);

    const platform::AppEnvironment* m_environment = nullptr;
    std::vector<std::shared_ptr<WHFileSystem>> m_fileSystems;
    std::string m_appDocsPath;
    std::string m_appSupportPath;
    std::string m_appDataPath;
    std::string m_appTempPath;
    std::string m_appCachePath;
};

} // namespace penwick
