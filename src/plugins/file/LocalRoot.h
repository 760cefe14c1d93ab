#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/BeneathResolver.h"
#include "plugins/file/LocalDisk.h"
#include "plugins/file/WHFileError.h"

namespace penwick {

// The confinement of a local file system: its root folder, and the roots symbolic links met
// beneath it may lead into. Full paths ("/notes/today.txt", "" or "/" for the root, no query)
// become local paths (root + full path) and back by their text alone, refusing ".." and NUL, and
// are resolved on the disk from the root's folder descriptor, so that a link leading out of the
// reachable roots, also one swapped in meanwhile, is never followed.
//
// Set up before use from several threads; afterwards only read.
class LocalRoot {
public:
    using LastLink = BeneathResolver::LastLink;

    explicit LocalRoot(std::string root);

    const std::string& path() const { return m_root; }
    // Where links may lead besides the root itself (empty ones skipped).
    void setReachableRoots(const std::vector<std::string>& roots);
    // The root's folder descriptor (-1 while the root cannot be opened).
    int folder() const { return m_resolver->rootFolder(); }

    // The local path of a full path by its text alone: nothing resolved on the disk.
    std::optional<std::string> lexicalLocalPath(const std::string& path) const;
    // The same, and none when a link on the way leads out of the reachable roots.
    std::optional<std::string> localPath(const std::string& path) const;
    // The full path of a local path below the root, by its text alone.
    std::optional<std::string> fullPath(const std::string& localPath) const;
    // True when the local path, every link in it followed, lies in a reachable root.
    bool reaches(const std::string& localPath) const;
    // True when the full path resolves through a link out of the reachable roots (or a loop).
    bool leadsOut(const std::string& path) const;

    // The folder and name of the item at a full path, resolved beneath the roots.
    Result<BeneathResolver::Entry> locate(const std::string& path, LastLink last) const;
    // Opens the item at a full path, first checked as localPath() checks it.
    Result<FileDescriptor> open(const std::string& path, int flags) const;
    // Opens the item at a full path already found inside the root.
    Result<FileDescriptor> openFound(const std::string& path, int flags) const { return m_resolver->open(path, flags); }
    // What lies at a full path (a "?query" ignored); nothing for one leading out.
    disk::PathInfo probe(const std::string& path) const;
    // True when the found item is the root itself, under whatever spelling ("/", "/.", a link).
    bool isRoot(const BeneathResolver::Entry& item) const;

    static std::string stripQuery(const std::string& path);
    // The last component, ignoring trailing "/"; "/" for "/", "" for "".
    static std::string lastComponent(std::string path);
    // Joined as path components: one "/" between the two, runs of "/" collapsed, no trailing "/".
    static std::string append(const std::string& base, const std::string& component);
    // A name in a local folder: one "/" between them.
    static std::string join(const std::string& directory, const std::string& name);
    static bool hasDotDotComponent(std::string_view path);
    static bool hasNul(std::string_view path) { return path.find('\0') != std::string_view::npos; }
    // ".." resolved against the components before it, never above the first.
    static std::string normalize(const std::string& path);
    // A link out of the roots, or a loop of links, is no item of the file system: as if missing.
    static Error asMissing(Error error);
    static FileError resolutionError(const Error& error);

private:
    std::string m_root;
    std::unique_ptr<BeneathResolver> m_resolver;
};

} // namespace penwick
