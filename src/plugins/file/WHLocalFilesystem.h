#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plugins/file/LocalDisk.h"
#include "plugins/file/LocalRoot.h"
#include "plugins/file/WHFileSystem.h"

namespace penwick {

// A named file system over one local directory, its root. Entries are named three ways: the full
// path inside the file system ("/notes/today.txt", "" or "/" for the root, maybe with a "?query"),
// the local path on disk (root + full path without its query) and the whfile URL.
//
// Confinement (LocalRoot): no operation touches a path outside the root. A full path with a ".."
// component has no local path, and a local path belongs to the root only when the root is followed
// by "/" or ends there; an empty root has no local paths at all. Every operation resolves its path
// from the root's folder descriptor and then acts on descriptors only, so symbolic
// links are followed only where they lead into a reachable root (the roots of all registered
// file systems, else this one's own), also when one is swapped in during the operation: a path
// that a link leads out of them answers NOT_FOUND_ERR as for a missing item, listings leave it
// out and copies drop such links (and say how many). Files with more than one hard link are
// never changed: another of their names may lie outside every root.
//
// Holds no mutable state once registered; operations may run on several threads at once. All
// completions are called before the operation returns, on the calling thread, except for a copy
// from another kind of file system, whose completion follows that file system's read.
class WHLocalFilesystem final : public WHFileSystem {
public:
    WHLocalFilesystem(std::string name, std::string root);

    const std::string& name() const override { return m_name; }
    void setName(std::string name) override { m_name = std::move(name); }
    const std::string& fsRoot() const { return m_root.path(); }
    // Also makes the root the one place links may lead, until setReachableRoots says otherwise.
    void setFsRoot(std::string root) { m_root = LocalRoot(std::move(root)); }
    const URLTransformer& urlTransformer() const override { return m_urlTransformer; }
    void setUrlTransformer(URLTransformer transformer) override { m_urlTransformer = std::move(transformer); }
    // Where symbolic links may lead: these roots (links in them resolved; empty ones skipped).
    // Set before the file system is used from several threads.
    void setReachableRoots(const std::vector<std::string>& roots) { m_root.setReachableRoots(roots); }
    // True when the local path, every link in it followed, lies in a reachable root.
    bool reaches(const std::string& localPath) const { return m_root.reaches(localPath); }
    // The root's folder descriptor (-1 while the root cannot be opened).
    int rootFolder() const { return m_root.folder(); }
    // What lies at a full path (links followed beneath the roots; nothing for one leading out).
    disk::PathInfo probePath(const std::string& fullPath) const { return m_root.probe(fullPath); }
    // Opens a path of this file system (a full path without query) beneath its root.
    Result<FileDescriptor> openBeneath(const std::string& path, int flags) const { return m_root.open(path, flags); }

    // Paths and URLs.
    static std::string stripQueryParametersFromPath(const std::string& path) { return LocalRoot::stripQuery(path); }
    std::optional<std::string> filesystemPathForFullPath(const std::string& fullPath) const
    {
        return m_root.localPath(LocalRoot::stripQuery(fullPath));
    }
    // The same for a path that is all path: a "?" in it is part of a name, not a query.
    std::optional<std::string> filesystemPathForPath(const std::string& path) const { return m_root.localPath(path); }
    std::optional<std::string> filesystemPathForURL(const WHFilesystemURL& url) override;
    std::optional<std::string> fullPathForFileSystemPath(const std::string& localPath) const { return m_root.fullPath(localPath); }
    std::optional<WHFilesystemURL> URLforFullPath(const std::optional<std::string>& fullPath) const;
    std::optional<WHFilesystemURL> URLforFilesystemPath(const std::string& localPath) override;
    static bool valueForKeyIsNumber(const Value& dictionary, const std::string& key);

    // Entries and lookups.
    ValueObject makeEntryForPath(const std::string& fullPath, EntryKind kind) override;
    std::optional<ValueObject> makeEntryForLocalURL(const WHFilesystemURL& url) override;
    WHPluginResult entryForLocalURI(const WHFilesystemURL& url) override;
    WHPluginResult getFileForURL(const WHFilesystemURL& directoryURL, const std::optional<std::string>& requestedPath,
        const Value& options) override;
    WHPluginResult getParentForURL(const WHFilesystemURL& url) override;

    // File operations.
    WHPluginResult setMetadataForURL(const WHFilesystemURL& url, const Value& metadata) override;
    WHPluginResult doRemove(const std::string& localPath);
    WHPluginResult removeFileAtURL(const WHFilesystemURL& url) override;
    WHPluginResult recursiveRemoveFileAtURL(const WHFilesystemURL& url) override;
    WHPluginResult readEntriesAtURL(const WHFilesystemURL& url, EntriesForm form = EntriesForm::Objects) override;
    Result<std::uint64_t> truncateFile(const std::string& localPath, std::uint64_t position) const;
    WHPluginResult truncateFileAtURL(const WHFilesystemURL& url, std::uint64_t position) override;
    WHPluginResult writeAtPosition(const WHFilesystemURL& url, const Bytes& data, std::uint64_t position) override;
    void copyFileToURL(const WHFilesystemURL& destinationDirectory, const std::string& newName,
        WHFileSystem& sourceFileSystem, const WHFilesystemURL& sourceURL, TransferMode mode,
        ResultCallback callback) override;
    static std::optional<std::string> getMimeTypeFromPath(const std::optional<std::string>& path);
    void readFileAtURL(const WHFilesystemURL& url, std::int64_t start, std::int64_t end, std::uint64_t maxBytes,
        ReadCallback callback) override;
    void getFileMetadataForURL(const WHFilesystemURL& url, ResultCallback callback) override;

private:
    enum class OnDisk { Unknown, Directory, NotDirectory };
    // `reachedLocal`: the local path when the caller already found it inside a reachable root (a
    // listed item of a resolved folder), so that it is not resolved once more.
    ValueObject makeEntry(const std::string& fullPath, EntryKind kind, OnDisk onDisk,
        const std::optional<std::string>& reachedLocal = std::nullopt) const;
    WHPluginResult write(const WHFilesystemURL& url, const Bytes& data, std::optional<std::uint64_t> keep);
    // The folder and name of the item a URL names, resolved beneath the roots.
    Result<BeneathResolver::Entry> locate(const WHFilesystemURL& url, LocalRoot::LastLink last) const;

    std::string m_name;
    URLTransformer m_urlTransformer;
    LocalRoot m_root;
};

} // namespace penwick
