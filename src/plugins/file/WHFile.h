#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/WHPlugin.h"
#include "plugins/file/LocalDisk.h"
#include "plugins/file/ReadBudget.h"
#include "plugins/file/WHFileSystem.h"

namespace penwick {

class WHInvokedUrlCommand;

// The page's file system: named roots ("temporary", "persistent", then the extras of the
// "osxextrafilesystems" setting) reached through whfile URLs. Actions run on the main thread; reads,
// writes, truncations, copies, moves and removals run their file work on the work queue and answer
// from there. Every call is answered exactly once, with an error when its work throws.
//
// Changes (write, truncate, copy, move, remove) run one at a time in the order the page asked for
// them, so that the last one the page asked for is the one that stays; one order for all file
// systems, since a move spans two of them and "root" overlaps the others. Reads run at once, side
// by side, and are refused before they start when their answer could not reach the page.
//
// The registry and the directories are written only by pluginInitialize and only read afterwards,
// also from background work and from the whfile scheme (through the WHFilePluginSlot).
class WHFile final : public WHPlugin {
public:
    explicit WHFile(const WHPluginContext& context);
    const std::string& className() const override;
    void pluginInitialize() override;
    std::vector<std::string> servedFolders() const override;

    // Registry and conversions.
    void registerFilesystem(std::shared_ptr<WHFileSystem> fileSystem);
    std::shared_ptr<WHFileSystem> fileSystemByName(const std::string& name) const;
    std::shared_ptr<WHFileSystem> filesystemForURL(const WHFilesystemURL& url) const;
    std::optional<WHFilesystemURL> fileSystemURLforArg(const std::string& arg) const;
    std::optional<WHFilesystemURL> fileSystemURLforLocalPath(const std::string& localPath) const;
    std::optional<std::string> filesystemPathForURL(const WHFilesystemURL& url) const;
    static std::optional<std::string> encodePath(const std::string& path);
    static std::optional<std::uint64_t> checkFreeDiskSpace(const std::string& path);
    std::vector<std::string> getExtraFileSystemsPreference() const;
    std::map<std::string, std::string> getAvailableFileSystems() const;
    void registerExtraFileSystems(const std::vector<std::string>& names,
        const std::map<std::string, std::string>& available);

    const std::string& appDocsPath() const { return m_appDocsPath; }
    const std::string& appSupportPath() const { return m_appSupportPath; }
    const std::string& appDataPath() const { return m_appDataPath; }
    const std::string& appTempPath() const { return m_appTempPath; }
    const std::string& appCachePath() const { return m_appCachePath; }

    // File system start-up and registry.
    void requestFileSystem(const WHInvokedUrlCommand& command);
    void requestAllFileSystems(const WHInvokedUrlCommand& command);
    void requestAllPaths(const WHInvokedUrlCommand& command);
    void resolveLocalFileSystemURI(const WHInvokedUrlCommand& command);
    void getLocalFilesystemPath(const WHInvokedUrlCommand& command);
    // Entries.
    void getFile(const WHInvokedUrlCommand& command);
    void getDirectory(const WHInvokedUrlCommand& command);
    void getParent(const WHInvokedUrlCommand& command);
    void setMetadata(const WHInvokedUrlCommand& command);
    void remove(const WHInvokedUrlCommand& command);
    void removeRecursively(const WHInvokedUrlCommand& command);
    void copyTo(const WHInvokedUrlCommand& command);
    void moveTo(const WHInvokedUrlCommand& command);
    void getFileMetadata(const WHInvokedUrlCommand& command);
    void readEntries(const WHInvokedUrlCommand& command);
    // Reading, writing and queries.
    void readAsText(const WHInvokedUrlCommand& command);
    void readAsDataURL(const WHInvokedUrlCommand& command);
    void readAsArrayBuffer(const WHInvokedUrlCommand& command);
    void readAsBinaryString(const WHInvokedUrlCommand& command);
    void write(const WHInvokedUrlCommand& command);
    void truncate(const WHInvokedUrlCommand& command);
    void testFileExists(const WHInvokedUrlCommand& command);
    disk::PathInfo probeInRoots(const std::string& localPath) const;
    void testDirectoryExists(const WHInvokedUrlCommand& command);
    void getFreeDiskSpace(const WHInvokedUrlCommand& command);

protected:
    const ActionTable& actions() const override;

private:
    struct Target {
        WHFilesystemURL url;
        std::shared_ptr<WHFileSystem> fileSystem;
    };
    // Changes waiting for their turn, run by one work-queue task at a time.
    struct ChangeQueue;
    enum class Order { AfterEarlierChanges, AtOnce };
    enum class ReadForm { DataURL, ArrayBuffer, BinaryString };
    enum class RemoveMode { Single, Recursive };

    // The file system URL and file system of a URL argument, or nothing after answering status 9:
    // TYPE_MISMATCH_ERR for a missing or non-string argument, ENCODING_ERR for a URL that does not
    // parse or names no registered file system.
    std::optional<Target> targetForArgument(const WHInvokedUrlCommand& command, const Value* argument);
    std::optional<Target> targetForString(const std::string& arg) const;
    void read(const WHInvokedUrlCommand& command, ReadForm form);
    void removeEntry(const WHInvokedUrlCommand& command, RemoveMode mode);
    void transfer(const WHInvokedUrlCommand& command, TransferMode mode);
    std::optional<std::string> getSupportDirectory(Result<std::string> base, const std::vector<std::string>& components);
    void answer(const WHInvokedUrlCommand& command, const WHPluginResult& result);
    // Runs `work` on the work queue; it answers through the function it is given (at most once
    // counts). An exception answers `onException` with status 6 instead.
    using Answer = std::function<void(const WHPluginResult&)>;
    void inBackground(const WHInvokedUrlCommand& command, Order order, FileError onException, std::function<void(const Answer&)> work);
    // Runs a read of `target` in the background once the view's read budget has room for
    // `bytesHeld` (what its answer holds in the host at most, given the bytes the read takes);
    // `work` puts the lease it is given on its result.
    using ReadWork = std::function<void(const Answer&, const ReadBudget::Lease&)>;
    void readInTurn(const WHInvokedUrlCommand& command, Target target, std::int64_t start, std::int64_t end,
        std::uint64_t maxBytes, std::function<std::uint64_t(std::uint64_t)> bytesHeld, ReadWork work);
    static std::function<void()> guardedTask(Answer answer, std::string callbackId, FileError onException,
        std::function<void(const Answer&)> work);

    std::vector<std::shared_ptr<WHFileSystem>> m_fileSystems;
    std::string m_appDocsPath;
    std::string m_appSupportPath;
    std::string m_appDataPath;
    std::string m_appTempPath;
    std::string m_appCachePath;
    std::shared_ptr<ChangeQueue> m_changes;
    std::shared_ptr<ReadBudget> m_readBudget;
};

} // namespace penwick
