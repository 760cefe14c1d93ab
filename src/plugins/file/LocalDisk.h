#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/FileDescriptor.h"
#include "base/Result.h"
#include "base/Value.h"

// Plain POSIX work for the local file system, on descriptors: an item is named by the folder
// descriptor that holds it and its name there (as BeneathResolver gives them), and nothing here
// follows a symbolic link or resolves a path again, so a link swapped in meanwhile fails the
// operation instead of leading it elsewhere. Every function closes what it opens before it
// returns, and failures come back as Error with the errno in `code` and its description in
// `message`.
namespace penwick::disk {

// Building blocks shared by the disk's sources.
// The errno as an Error, with its description.
Error errnoError(int err);
// Opens a folder below `folder`, never through a link.
FileDescriptor openFolder(int folder, const std::string& name);
// Writes all of `data`, or fails.
Result<void> writeLoop(int fd, const std::uint8_t* data, size_t size);
// Copies up to `count` bytes from the current offset of `from` to that of `to` (fewer when `from`
// ends first).
Result<void> copyRange(int from, int to, std::uint64_t count);

struct PathInfo {
    bool exists = false;
    bool isDirectory = false;
};
// The item itself (a link is a link, not a folder).
PathInfo probeAt(int folder, const std::string& name);
// Follows symbolic links; only for paths outside the file systems' roots that the host itself chose.
PathInfo probe(const std::string& path);

// True when the folder lists at least one name besides "." and ".."; false when it can't be listed.
bool directoryHasEntries(int folder, const std::string& name);

struct DirectoryName {
    std::string name;
    enum class Kind { Directory, Other, Unknown } kind;
};
// The names in the opened folder `directory`.
Result<std::vector<DirectoryName>> listDirectory(int directory);

// Bytes [start, end) of the opened regular file, end < 0 meaning its end. Exactly the range is
// read, into one buffer sized once; a range longer than `maxBytes` fails with EFBIG before any
// byte is read. Anything but a regular file fails with EISDIR or EINVAL.
Result<Bytes> readRange(int fd, std::int64_t start, std::int64_t end, std::uint64_t maxBytes);

// Gives the file its first `keep` bytes (zero-filled up to `keep` when it is shorter; all of it
// when `keep` is none) followed by `data`. A write at or past the file's end goes in place: the
// data written and flushed, and on any failure the file cut back to its old length; a kill in the
// middle may leave part of the new tail, never a changed old byte. Any other write builds the new
// content in a temporary file beside the file and renames it over it, so a failure, a full volume
// or a kill at any point leaves the old content whole and no new file behind. A missing file gets
// `data` alone. The new file keeps the
// old one's permissions and, where the process may, its owner; set-user-id and set-group-id bits
// are dropped (and logged). A file the user may not write, or one with more than one hard link
// (which may lie outside every root), is refused with EACCES / EMLINK.
Result<void> writeAt(int folder, const std::string& name, std::optional<std::uint64_t> keep, const Bytes& data);
// Writes into a temporary file beside the target and renames it over the target; `mode` sets
// the new file's permissions (else 0666 less the umask).
Result<void> writeAtomically(int folder, const std::string& name, const Bytes& data, std::optional<unsigned> mode = std::nullopt);

// Sets the length of the opened regular file (cutting it, or extending it with zero bytes) and
// gives the new length. A file with more than one hard link is refused (EMLINK).
Result<std::uint64_t> truncateTo(int fd, std::uint64_t length);

// Free bytes of the volume holding the path, or of its nearest existing parent folder.
std::optional<std::uint64_t> freeSpaceNear(const std::string& path);

// Removes the item, a folder with everything under it; links are removed, never followed.
Result<void> removeTree(int folder, const std::string& name);
// Decides, for a link just made by a copy (given by its path below the copy's top item, ""
// for the top item itself), whether it stays; one that does not is removed again.
using LinkFilter = std::function<bool(const std::string& below)>;
// Copies the item (a folder with everything under it) to a destination that must not exist.
// Links the filter refuses and items that are neither files, folders nor links (FIFOs,
// devices, sockets) are left out; the answer is how many were. Uses the kernel's copy offload
// where it can. On failure nothing is left at the destination.
Result<unsigned> copyTree(int sourceFolder, const std::string& source, int folder, const std::string& destination,
    const LinkFilter& keepLink = {});
// Renames, or copies and removes the source across volumes; the answer is as for copyTree.
Result<unsigned> moveItem(int sourceFolder, const std::string& source, int folder, const std::string& destination,
    const LinkFilter& keepLink = {});

} // namespace penwick::disk
