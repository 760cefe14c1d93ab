#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"
#include "base/Result.h"

// Plain POSIX work on local paths for the local file system. Every function closes what it opens
// before it returns, and failures come back as Error with the errno in `code` and its description
// in `message`.
namespace penwick::disk {

struct PathInfo {
    bool exists = false;
    bool isDirectory = false;
};
// Follows symbolic links, like the existence checks of the file operations.
PathInfo probe(const std::string& path);

// True when the directory lists at least one name besides "." and ".."; false when it can't be listed.
bool directoryHasEntries(const std::string& path);

struct DirectoryName {
    std::string name;
    enum class Kind { Directory, Other, Unknown } kind;
};
Result<std::vector<DirectoryName>> listDirectory(const std::string& path);

// Bytes [start, end) of a regular file, end < 0 meaning its end. Exactly the range is read, into
// one buffer sized once; a range longer than `maxBytes` fails with EFBIG before any byte is read.
// Anything but a regular file fails with EISDIR or EINVAL.
Result<Bytes> readRange(const std::string& path, std::int64_t start, std::int64_t end, std::uint64_t maxBytes);

// Gives the file its first `keep` bytes (zero-filled up to `keep` when it is shorter; all of it
// when `keep` is none) followed by `data`. The new content is built in a temporary file beside the
// file (through a symbolic link: beside its target) and renamed over it, so a failure, a full
// volume or a kill at any point leaves the old content whole and no new file behind. A missing
// file gets `data` alone. The file keeps its permissions.
Result<void> writeAt(const std::string& path, std::optional<std::uint64_t> keep, const Bytes& data);
// Writes into a temporary file next to the target and renames it over the target; `mode` sets
// the new file's permissions (else 0666 less the umask).
Result<void> writeAtomically(const std::string& path, const Bytes& data, std::optional<unsigned> mode = std::nullopt);

// Sets the length of an existing regular file (cutting it, or extending it with zero bytes) and
// gives the new length.
Result<std::uint64_t> truncateTo(const std::string& path, std::uint64_t length);

// The path with every symbolic link followed, in the last component too and even when its target
// does not exist; "." and ".." resolved; parts that do not exist kept as written. None for a loop
// of links.
std::optional<std::string> resolvePath(const std::string& path);

// Free bytes of the volume holding the path, or of its nearest existing parent folder.
std::optional<std::uint64_t> freeSpaceNear(const std::string& path);

// Removes the item, a directory with everything under it; symbolic links are removed, not followed.
Result<void> removeTree(const std::string& path);
// Decides, for a symbolic link just made at the given path of a copy, whether it stays; a link
// that does not is removed again and left out of the copy.
using LinkFilter = std::function<bool(const std::string& link)>;
// Copies the item (a directory with everything under it) to a destination that must not exist.
// Uses the kernel's copy offload where it can. On failure nothing is left at the destination.
Result<void> copyTree(const std::string& source, const std::string& destination, const LinkFilter& keepLink = {});
// Renames, or copies and removes the source across volumes.
Result<void> moveItem(const std::string& source, const std::string& destination, const LinkFilter& keepLink = {});

} // namespace penwick::disk
