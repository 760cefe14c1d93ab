#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/Value.h"
#include "bridge/WHPluginResult.h"
#include "plugins/file/WHFileError.h"
#include "plugins/file/WHFilesystemURL.h"

namespace penwick {

enum class EntryKind { File, Directory };
enum class TransferMode { Copy, Move };
// How a folder's entries are answered: as the entry objects themselves, or in the lean form the
// page library expands into the same objects (the parts all entries share are written once):
//   {"base": URL the items' nativeURLs extend, "filesystemName": n, "folder": full path of the folder,
//    "items": [item...]}
// An item is a file's name, or [name, 1 for a folder else 0, nativeURL or null]:
// fullPath is folder + name (+ "/" for a folder), name the name, nativeURL base + the same tail,
// unless the item gives them.
enum class EntriesForm { Objects, Lean };

// Completions of the asynchronous operations. Each is called exactly once, either before the
// operation returns on the caller's thread or later on another thread; callers handle both.
using ResultCallback = std::function<void(WHPluginResult)>;
// Bytes (none on failure), the MIME type, and NoError or the file error.
using ReadCallback = std::function<void(std::optional<Bytes>, std::string mimeType, FileError)>;
// Rewrites the "file://" native URL of every entry a file system makes.
using URLTransformer = std::function<std::string(const std::string& url)>;

// A named file system as the file plugin and the whfile URL scheme use it. Its operations may run
// on the main thread and on background threads at the same time; name and URL transformer are set
// before the file system is registered and only read afterwards.
class WHFileSystem {
public:
    virtual ~WHFileSystem() = default;

    virtual WHPluginResult entryForLocalURI(const WHFilesystemURL& url) = 0;
    // options: a JSON object with the boolean keys "create", "exclusive", "getDir", or null.
    virtual WHPluginResult getFileForURL(const WHFilesystemURL& directoryURL,
        const std::optional<std::string>& requestedPath, const Value& options) = 0;
    virtual WHPluginResult getParentForURL(const WHFilesystemURL& url) = 0;
    virtual WHPluginResult setMetadataForURL(const WHFilesystemURL& url, const Value& metadata) = 0;
    virtual WHPluginResult removeFileAtURL(const WHFilesystemURL& url) = 0;
    virtual WHPluginResult recursiveRemoveFileAtURL(const WHFilesystemURL& url) = 0;
    virtual WHPluginResult readEntriesAtURL(const WHFilesystemURL& url, EntriesForm form) = 0;
    virtual WHPluginResult truncateFileAtURL(const WHFilesystemURL& url, std::uint64_t position) = 0;
    // The page's write: the file's content up to `position` (zero-filled past its end), then the
    // data, replacing the file as one step; a missing file gets the data alone. Status 1 with the
    // number of bytes written, else a file error.
    virtual WHPluginResult writeAtPosition(const WHFilesystemURL& url, const Bytes& data, std::uint64_t position) = 0;
    // The source file system must outlive the call (file systems live as long as the process).
    virtual void copyFileToURL(const WHFilesystemURL& destinationDirectory, const std::string& newName,
        WHFileSystem& sourceFileSystem, const WHFilesystemURL& sourceURL, TransferMode mode,
        ResultCallback callback) = 0;
    // end is exclusive; a negative end reads to the end of the file. A range longer than
    // `maxBytes` is refused (NOT_READABLE_ERR) before anything is read.
    virtual void readFileAtURL(const WHFilesystemURL& url, std::int64_t start, std::int64_t end, std::uint64_t maxBytes,
        ReadCallback callback) = 0;
    virtual void getFileMetadataForURL(const WHFilesystemURL& url, ResultCallback callback) = 0;
    virtual std::optional<ValueObject> makeEntryForLocalURL(const WHFilesystemURL& url) = 0;
    virtual ValueObject makeEntryForPath(const std::string& fullPath, EntryKind kind) = 0;

    virtual const std::string& name() const = 0;
    virtual void setName(std::string name) = 0;
    virtual const URLTransformer& urlTransformer() const = 0;
    virtual void setUrlTransformer(URLTransformer transformer) = 0;

    // Only file systems over local directories have local paths; the defaults answer none.
    virtual std::optional<std::string> filesystemPathForURL(const WHFilesystemURL&) { return std::nullopt; }
    virtual std::optional<WHFilesystemURL> URLforFilesystemPath(const std::string&) { return std::nullopt; }
};

} // namespace penwick
