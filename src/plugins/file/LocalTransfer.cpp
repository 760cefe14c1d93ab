#include "plugins/file/LocalTransfer.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Format.h"
#include "base/Log.h"

namespace penwick {
namespace {

using LastLink = LocalRoot::LastLink;

std::optional<struct stat> statAt(int folder, const std::string& name)
{
    struct stat st;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return st;
}

bool sameItem(const std::optional<struct stat>& a, const std::optional<struct stat>& b)
{
    return a && b && a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

// True when the folder is `item` or lies below it, walking up its parents on the disk.
bool folderIsOrIsBelow(int folder, const struct stat& item)
{
    FileDescriptor current(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    for (int depth = 0; current && depth < 4096; ++depth) {
        struct stat st;
        if (fstat(current.get(), &st) != 0)
            return false;
        if (st.st_dev == item.st_dev && st.st_ino == item.st_ino)
            return true;
        FileDescriptor parent(openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat up;
        if (!parent || fstat(parent.get(), &up) != 0 || (up.st_dev == st.st_dev && up.st_ino == st.st_ino))
            return false;
        current = std::move(parent);
    }
    return false;
}

} // namespace

bool LocalTransfer::canCopyMoveSrc(const std::string& source, const std::string& destination)
{
    if (source.empty())
        return true;
    size_t found = destination.find(source);
    if (found == std::string::npos)
        return true;
    size_t windowStart = source.size() - 1;
    size_t windowLength = destination.size() - source.size();
    return destination.substr(windowStart, windowLength).find('/') == std::string::npos;
}

WHPluginResult LocalTransfer::run(TransferMode mode, const LocalRoot& destination, const std::string& directory,
    const std::string& newName, const LocalRoot& source, const std::string& sourcePath, const MakeEntry& makeEntry)
{
    std::string newPath = LocalRoot::join(directory, newName);
    auto newFullPath = destination.fullPath(newPath);
    auto sourceFullPath = source.fullPath(sourcePath);
    if (!newFullPath || !sourceFullPath)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    // Both items as folder and name, the links in their paths followed beneath the roots (the new
    // name may hold components; a link among them must not lead out either). The items
    // themselves are taken as they are: a link is copied or moved as a link.
    auto to = destination.locate(*newFullPath, LastLink::Keep);
    auto from = source.locate(*sourceFullPath, LastLink::Keep);
    // A new name below a folder that does not exist fails as the copy itself would.
    if (!to && (to.error().code == ENOENT || to.error().code == ENOTDIR))
        return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
    if (!to)
        return fileError(CommandStatus::IOException, LocalRoot::resolutionError(to.error()));
    if (!from)
        return fileError(CommandStatus::IOException, LocalRoot::resolutionError(from.error()));
    auto targetStat = statAt(to->folder.get(), to->name);
    auto sourceStat = statAt(from->folder.get(), from->name);
    if (!sourceStat)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    bool sourceIsDirectory = S_ISDIR(sourceStat->st_mode);
    bool targetIsDirectory = targetStat && S_ISDIR(targetStat->st_mode);

    // The same item under another spelling ("/./", "//", a link) counts as "onto itself": a move
    // would otherwise remove the source as the item in the way.
    if (newPath == sourcePath || sameItem(targetStat, sourceStat))
        return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
    if (sourceIsDirectory && targetStat && !targetIsDirectory)
        return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);

    // Told on the disk: the folder that receives the item must not be the source or lie below it.
    auto intoItself = [&] { return !canCopyMoveSrc(sourcePath, newPath) || folderIsOrIsBelow(to->folder.get(), *sourceStat); };

    // A copied link that would lead out of the reachable roots from its new place is left out.
    std::string copyPath = LocalRoot::stripQuery(*newFullPath);
    auto keepLink = [&destination, &copyPath](const std::string& below) {
        std::string path = below.empty() ? copyPath : copyPath + "/" + below;
        if (!destination.leadsOut(path))
            return true;
        log::message(format("left out of the copy: %@, a symbolic link leading out of the file systems", path));
        return false;
    };
    Result<unsigned> outcome = 0u;
    if (mode == TransferMode::Copy) {
        if (sourceIsDirectory && intoItself())
            return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
        if (targetStat)
            return fileError(CommandStatus::IOException, FileError::PATH_EXISTS_ERR);
        outcome = disk::copyTree(from->folder.get(), from->name, to->folder.get(), to->name, keepLink);
    } else {
        // A file system's root stays where it is, like it stays on removal.
        if (source.isRoot(*from))
            return fileError(CommandStatus::IOException, FileError::NO_MODIFICATION_ALLOWED_ERR);
        if (!sourceIsDirectory && targetIsDirectory)
            return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
        if (sourceIsDirectory && intoItself())
            return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
        if (targetIsDirectory && disk::directoryHasEntries(to->folder.get(), to->name))
            return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
        if (targetStat && !disk::removeTree(to->folder.get(), to->name))
            return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
        outcome = disk::moveItem(from->folder.get(), from->name, to->folder.get(), to->name, keepLink);
    }
    if (!outcome)
        return fileError(CommandStatus::IOException,
            fileFailure(mode == TransferMode::Copy ? "copying to" : "moving to", newPath, outcome.error(), FileAccess::Transferring,
                FileError::INVALID_MODIFICATION_ERR));
    if (*outcome > 0) {
        // What was copied stays; the page learns that it is not the whole item.
        std::string message = format("%@ entries were left out of the copy to %@: links leading out of the file systems, or special files",
            *outcome, *newFullPath);
        log::message(message);
        ValueObject error;
        error["code"] = fileErrorCode(FileError::INVALID_MODIFICATION_ERR);
        error["leftOut"] = *outcome;
        error["message"] = message;
        return WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::IOException, std::move(error));
    }
    return WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK,
        makeEntry(*newFullPath, sourceIsDirectory ? EntryKind::Directory : EntryKind::File));
}

} // namespace penwick
