#pragma once

#include <cstdint>
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
// one buffer sized once. Anything but a regular file fails with EISDIR or EINVAL.
Result<Bytes> readRange(const std::string& path, std::int64_t start, std::int64_t end);

enum class Append { No, Yes };
// Writes every byte, retrying short writes. On failure the file is as it was before the call: an
// append is cut back, and an existing file being replaced keeps its old content (the new bytes
// go to a temporary file renamed over it).
Result<void> writeAll(const std::string& path, const Bytes& data, Append append);
// Writes into a temporary file next to the target and renames it over the target; `mode` sets
// the new file's permissions (else 0666 less the umask).
Result<void> writeAtomically(const std::string& path, const Bytes& data, std::optional<unsigned> mode = std::nullopt);

// The file's new length, or 0 when the file can't be opened for writing or cut.
std::uint64_t truncateTo(const std::string& path, std::uint64_t position);

// Removes the item, a directory with everything under it; symbolic links are removed, not followed.
Result<void> removeTree(const std::string& path);
// Copies the item (a directory with everything under it) to a destination that must not exist.
// Uses the kernel's copy offload where it can. On failure nothing is left at the destination.
Result<void> copyTree(const std::string& source, const std::string& destination);
// Renames, or copies and removes the source across volumes.
Result<void> moveItem(const std::string& source, const std::string& destination);

} // namespace penwick::disk
