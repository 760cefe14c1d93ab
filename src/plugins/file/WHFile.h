#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Reply.h"
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

    // Filled by pluginInitialize, only read afterwards (also from other threads).
    const FileSystemRegistry& fileSystems() const { return m_registry; }
    FileSystemRegistry& fileSystems() { return m_registry; }

    // File system start-up and registry.
    void requestFileSystem(const WHInvokedUrlCommand& command, Reply reply);
    void requestAllFileSystems(const WHInvokedUrlCommand& command, Reply reply);
    void requestAllPaths(const WHInvokedUrlCommand& command, Reply reply);
    void resolveLocalFileSystemURI(const WHInvokedUrlCommand& command, Reply reply);
    void getLocalFilesystemPath(const WHInvokedUrlCommand& command, Reply reply);
    // Entries.
    void getFile(const WHInvokedUrlCommand& command, Reply reply);
    void getDirectory(const WHInvokedUrlCommand& command, Reply reply);
    void getParent(const WHInvokedUrlCommand& command, Reply reply);
    void setMetadata(const WHInvokedUrlCommand& command, Reply reply);
    void remove(const WHInvokedUrlCommand& command, Reply reply);
    void removeRecursively(const WHInvokedUrlCommand& command, Reply reply);
    void copyTo(const WHInvokedUrlCommand& command, Reply reply);
    void moveTo(const WHInvokedUrlCommand& command, Reply reply);
    void getFileMetadata(const WHInvokedUrlCommand& command, Reply reply);
    void readEntries(const WHInvokedUrlCommand& command, Reply reply);
    // Reading, writing and queries.
    void readAsText(const WHInvokedUrlCommand& command, Reply reply);
    void readAsDataURL(const WHInvokedUrlCommand& command, Reply reply);
    void readAsArrayBuffer(const WHInvokedUrlCommand& command, Reply reply);
    void readAsBinaryString(const WHInvokedUrlCommand& command, Reply reply);
    void write(const WHInvokedUrlCommand& command, Reply reply);
    void truncate(const WHInvokedUrlCommand& command, Reply reply);
    void testFileExists(const WHInvokedUrlCommand& command, Reply reply);
    void testDirectoryExists(const WHInvokedUrlCommand& command, Reply reply);
    void getFreeDiskSpace(const WHInvokedUrlCommand& command, Reply reply);

protected:
    const ActionTable& actions() const override;

private:
    using Target = FileSystemRegistry::Target;
    enum class ReadForm { DataURL, ArrayBuffer, BinaryString };
    enum class RemoveMode { Single, Recursive };

    // The file system URL and file system of a URL argument, or nothing after answering status 9:
    // TYPE_MISMATCH_ERR for a missing or non-string argument, ENCODING_ERR for a URL that does not
    // parse or names no registered file system.
    std::optional<Target> targetForArgument(Reply& reply, const Value* argument);
    void read(const WHInvokedUrlCommand& command, Reply reply, ReadForm form);
    void removeEntry(const WHInvokedUrlCommand& command, Reply reply, RemoveMode mode);
    void transfer(const WHInvokedUrlCommand& command, Reply reply, TransferMode mode);
    void inBackground(Reply reply, FileWork::Order order, FileError onException, FileWork::Work work);
    void readInTurn(Reply reply, Target target, std::int64_t start, std::int64_t end, std::uint64_t maxBytes,
        std::function<std::uint64_t(std::uint64_t)> bytesHeld, FileWork::ReadWork work);
    // A number argument the way the page's numbers arrive; anything else, or nothing, is 0.
    static std::int64_t numberArgument(const WHInvokedUrlCommand& command, size_t index);
    static const Value* rawArgument0(const WHInvokedUrlCommand& command);

    FileSystemRegistry m_registry;
    FileWork m_work;
};

} // namespace penwick
