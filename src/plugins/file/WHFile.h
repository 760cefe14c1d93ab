#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/WHPlugin.h"
#include "plugins/file/FileSystemRegistry.h"
#include "plugins/file/FileWork.h"

namespace penwick {

class WHInvokedUrlCommand;

// The page's file system: named roots (FileSystemRegistry) reached through whfile URLs. Actions run
// on the main thread; reads, writes, truncations, copies, moves and removals run their file work
// in the background (FileWork) and answer from there. Every call is answered exactly once, with
// an error when its work throws.
class WHFile final : public WHPlugin {
public:
    explicit WHFile(const WHPluginContext& context);
    const std::string& className() const override;
    void pluginInitialize() override;
    std::vector<std::string> servedFolders() const override;

    // The instance that started last; null before any did. Safe from any thread.
    static WHFile* sharedFilePlugin();
    // Filled by pluginInitialize, only read afterwards (also from other threads).
    const FileSystemRegistry& fileSystems() const { return m_registry; }
    FileSystemRegistry& fileSystems() { return m_registry; }

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
    void testDirectoryExists(const WHInvokedUrlCommand& command);
    void getFreeDiskSpace(const WHInvokedUrlCommand& command);

protected:
    const ActionTable& actions() const override;

private:
    using Target = FileSystemRegistry::Target;
    enum class ReadForm { DataURL, ArrayBuffer, BinaryString };
    enum class RemoveMode { Single, Recursive };

    // The file system URL and file system of a URL argument, or nothing after answering status 9:
    // TYPE_MISMATCH_ERR for a missing or non-string argument, ENCODING_ERR for a URL that does not
    // parse or names no registered file system.
    std::optional<Target> targetForArgument(const WHInvokedUrlCommand& command, const Value* argument);
    void read(const WHInvokedUrlCommand& command, ReadForm form);
    void removeEntry(const WHInvokedUrlCommand& command, RemoveMode mode);
    void transfer(const WHInvokedUrlCommand& command, TransferMode mode);
    void answer(const WHInvokedUrlCommand& command, const WHPluginResult& result);
    FileWork::Answer answerer(const WHInvokedUrlCommand& command) const;
    void inBackground(const WHInvokedUrlCommand& command, FileWork::Order order, FileError onException, FileWork::Work work);
    void readInTurn(const WHInvokedUrlCommand& command, Target target, std::int64_t start, std::int64_t end,
        std::uint64_t maxBytes, std::function<std::uint64_t(std::uint64_t)> bytesHeld, FileWork::ReadWork work);
    // A number argument the way the page's numbers arrive; anything else, or nothing, is 0.
    static std::int64_t numberArgument(const WHInvokedUrlCommand& command, size_t index);
    static const Value* rawArgument0(const WHInvokedUrlCommand& command);

    FileSystemRegistry m_registry;
    FileWork m_work;
};

} // namespace penwick
