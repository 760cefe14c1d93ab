#include "plugins/file/LocalDisk.h"

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The disk's tree operations: copying, moving and removing whole items, links kept as links.
namespace penwick::disk {
namespace {

Result<void> copyFile(int sourceFolder, const std::string& source, int folder, const std::string& destination)
{
    FileDescriptor from(openat(sourceFolder, source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!from)
        return errnoError(errno);
    struct stat st;
    if (fstat(from.get(), &st) != 0)
        return errnoError(errno);
    if (!S_ISREG(st.st_mode))
        return errnoError(EINVAL);
    // A copy is a new file of the app's: no set-user-id or set-group-id bits.
    FileDescriptor to(openat(folder, destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 0777));
    if (!to)
        return errnoError(errno);
    auto result = copyRange(from.get(), to.get(), static_cast<std::uint64_t>(st.st_size));
    if (result) {
        struct timespec times[2] = { st.st_atim, st.st_mtim };
        futimens(to.get(), times);
        if (to.close() != 0)
            result = errnoError(errno);
    }
    if (!result) {
        to.reset();
        unlinkat(folder, destination.c_str(), 0);
    }
    return result;
}

Result<void> copyItem(int sourceFolder, const std::string& source, int folder, const std::string& destination,
    const std::string& below, const LinkFilter& keepLink, unsigned& leftOut)
{
    struct stat st;
    if (fstatat(sourceFolder, source.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errnoError(errno);
    if (S_ISREG(st.st_mode))
        return copyFile(sourceFolder, source, folder, destination);
    if (S_ISLNK(st.st_mode)) {
        char target[PATH_MAX];
        ssize_t n = readlinkat(sourceFolder, source.c_str(), target, sizeof target - 1);
        if (n < 0)
            return errnoError(errno);
        target[n] = '\0';
        if (symlinkat(target, folder, destination.c_str()) != 0)
            return errnoError(errno);
        if (keepLink && !keepLink(below)) {
            unlinkat(folder, destination.c_str(), 0);
            ++leftOut;
        }
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        ++leftOut;
        return {};
    }

    FileDescriptor from = openFolder(sourceFolder, source);
    if (!from)
        return errnoError(errno);
    if (mkdirat(folder, destination.c_str(), (st.st_mode & 0777) | S_IRWXU) != 0)
        return errnoError(errno);
    auto fail = [&](Error error) -> Result<void> {
        (void)removeTree(folder, destination);
        return error;
    };
    FileDescriptor to = openFolder(folder, destination);
    if (!to)
        return fail(errnoError(errno));
    auto names = listDirectory(from.get());
    if (!names)
        return fail(names.error());
    for (const auto& entry : *names) {
        std::string childBelow = below.empty() ? entry.name : below + "/" + entry.name;
        if (auto copied = copyItem(from.get(), entry.name, to.get(), entry.name, childBelow, keepLink, leftOut); !copied)
            return fail(copied.error());
    }
    fchmod(to.get(), st.st_mode & 0777);
    return {};
}

} // namespace

Result<void> removeTree(int folder, const std::string& name)
{
    struct stat st;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errnoError(errno);
    if (!S_ISDIR(st.st_mode)) {
        if (unlinkat(folder, name.c_str(), 0) != 0)
            return errnoError(errno);
        return {};
    }
    // Opened without following: a folder swapped for a link since the look fails here.
    FileDescriptor directory = openFolder(folder, name);
    if (!directory)
        return errnoError(errno);
    auto names = listDirectory(directory.get());
    if (!names)
        return names.error();
    for (const auto& entry : *names) {
        if (auto removed = removeTree(directory.get(), entry.name); !removed)
            return removed;
    }
    if (unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0)
        return errnoError(errno);
    return {};
}

Result<unsigned> copyTree(int sourceFolder, const std::string& source, int folder, const std::string& destination,
    const LinkFilter& keepLink)
{
    struct stat st;
    if (fstatat(folder, destination.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return errnoError(EEXIST);
    unsigned leftOut = 0;
    if (auto copied = copyItem(sourceFolder, source, folder, destination, "", keepLink, leftOut); !copied)
        return copied.error();
    return leftOut;
}

Result<unsigned> moveItem(int sourceFolder, const std::string& source, int folder, const std::string& destination,
    const LinkFilter& keepLink)
{
    if (renameat(sourceFolder, source.c_str(), folder, destination.c_str()) == 0)
        return 0u;
    if (errno != EXDEV)
        return errnoError(errno);
    auto copied = copyTree(sourceFolder, source, folder, destination, keepLink);
    if (!copied)
        return copied;
    // Both copies exist now; a source that won't go away is reported, and nothing is lost.
    if (auto removed = removeTree(sourceFolder, source); !removed)
        return removed.error();
    return copied;
}

} // namespace penwick::disk
