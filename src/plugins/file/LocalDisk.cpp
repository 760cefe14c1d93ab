#include "plugins/file/LocalDisk.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "base/Format.h"
#include "base/Log.h"
#include "plugins/file/ReadBuffers.h"

namespace penwick::disk {

Error errnoError(int err)
{
    return Error { err, g_strerror(err) };
}

FileDescriptor openFolder(int folder, const std::string& name)
{
    return FileDescriptor(openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Result<void> writeLoop(int fd, const std::uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errnoError(errno);
        }
        if (n == 0)
            return errnoError(ENOSPC);
        data += n;
        size -= static_cast<size_t>(n);
    }
    return {};
}

Result<void> copyRange(int from, int to, std::uint64_t count)
{
    // Kernel copy first: no round trip through user space, and reflinks where the file system has them.
    bool offload = true;
    while (offload && count > 0) {
        ssize_t n = copy_file_range(from, nullptr, to, nullptr, static_cast<size_t>(std::min<std::uint64_t>(count, 1 << 30)), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
                offload = false;
                break;
            }
            return errnoError(errno);
        }
        if (n == 0)
            return {}; // the source ended
        count -= static_cast<std::uint64_t>(n);
    }
    constexpr size_t kChunk = 1 << 20;
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunk);
    while (count > 0) {
        ssize_t n = ::read(from, buffer.get(), static_cast<size_t>(std::min<std::uint64_t>(kChunk, count)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errnoError(errno);
        }
        if (n == 0)
            return {};
        if (auto written = writeLoop(to, buffer.get(), static_cast<size_t>(n)); !written)
            return written.error();
        count -= static_cast<std::uint64_t>(n);
    }
    return {};
}

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// A stream over a folder descriptor (a copy of it: the stream owns what it reads).
DirHandle openStream(int directory)
{
    int copy = fcntl(directory, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return nullptr;
    DIR* dir = fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return nullptr;
    }
    rewinddir(dir);
    return DirHandle(dir);
}

// A random hidden name for a temporary file beside `name`.
std::string temporaryName(const std::string& name)
{
    return "." + name + "." + std::to_string(g_random_int()) + ".tmp";
}

// A new, empty file in `folder` that only this call knows. Where the volume allows, it has no
// name until its content is complete (`temporary` stays empty), so a host killed while writing
// leaves nothing behind; elsewhere it gets a hidden random name, made with O_EXCL. Either way the
// kernel applies the umask to 0666, as for any new file, without touching the process-wide umask.
Result<int> openTemporaryBeside(int folder, const std::string& name, std::string& temporary)
{
    temporary.clear();
    int fd = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0)
        return fd;
    // Volumes without unnamed files say so in one of these ways; anything else is the answer.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return errnoError(errno);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(name);
        fd = openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            return errnoError(errno);
    }
    return errnoError(EEXIST);
}

// Gives the unnamed file `fd` a hidden name in `folder`, for the rename that follows.
Result<void> nameTemporary(int fd, int folder, const std::string& name, std::string& temporary)
{
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(name);
        if (linkat(AT_FDCWD, self.c_str(), folder, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return {};
        int err = errno;
        // Without /proc the descriptor itself may be linked (where the kernel allows it).
        if (err == ENOENT && linkat(fd, "", folder, temporary.c_str(), AT_EMPTY_PATH) == 0)
            return {};
        if (err != EEXIST) {
            temporary.clear();
            return errnoError(err);
        }
    }
    temporary.clear();
    return errnoError(EEXIST);
}

// Flushes and closes the finished temporary file and renames it over `name`; on any failure the
// temporary file goes and the item at `name` is untouched.
Result<void> replaceWith(FileDescriptor& fd, std::string temporary, int folder, const std::string& name, Result<void> result)
{
    // Renamed only once its bytes are on the disk: a crash then leaves the old or the new file.
    if (result && fdatasync(fd.get()) != 0)
        result = errnoError(errno);
    if (result && temporary.empty())
        result = nameTemporary(fd.get(), folder, name, temporary);
    if (result && fd.close() != 0)
        result = errnoError(errno);
    if (result && renameat(folder, temporary.c_str(), folder, name.c_str()) != 0)
        result = errnoError(errno);
    if (!result && !temporary.empty())
        unlinkat(folder, temporary.c_str(), 0);
    return result;
}

// Writes `data` at `position` of the opened file, at or past its old end (`oldSize`), zero-filling
// the gap, then flushes; on any failure the file is cut back to its old length, so no byte that
// existed is ever touched.
Result<void> appendInPlace(int fd, std::uint64_t oldSize, std::uint64_t position, const Bytes& data)
{
    Result<void> result;
    if (position > oldSize && ftruncate(fd, static_cast<off_t>(position)) != 0)
        result = errnoError(errno);
    const std::uint8_t* bytes = data.data();
    size_t left = data.size();
    auto at = static_cast<off_t>(position);
    while (result && left > 0) {
        ssize_t n = pwrite(fd, bytes, left, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            result = errnoError(n < 0 ? errno : ENOSPC);
            break;
        }
        bytes += n;
        left -= static_cast<size_t>(n);
        at += n;
    }
    if (result && fdatasync(fd) != 0)
        result = errnoError(errno);
    if (!result) {
        if (ftruncate(fd, static_cast<off_t>(oldSize)) != 0 || fdatasync(fd) != 0)
            log::message(format("cutting a failed append back to %@ bytes failed: %@", oldSize, g_strerror(errno)));
    }
    return result;
}

// Refuses files whose change could reach past the roots: another hard link may lie anywhere.
Result<void> checkSingleLink(const struct stat& st)
{
    if (S_ISREG(st.st_mode) && st.st_nlink > 1)
        return Error { EMLINK, "the file has more than one hard link" };
    return {};
}

} // namespace

PathInfo probeAt(int folder, const std::string& name)
{
    struct stat st;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    return { true, S_ISDIR(st.st_mode) };
}

PathInfo probe(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return { true, S_ISDIR(st.st_mode) };
}

bool directoryHasEntries(int folder, const std::string& name)
{
    FileDescriptor directory = openFolder(folder, name);
    DirHandle dir = directory ? openStream(directory.get()) : nullptr;
    if (!dir)
        return false;
    while (struct dirent* e = readdir(dir.get())) {
        std::string_view entry = e->d_name;
        if (entry != "." && entry != "..")
            return true;
    }
    return false;
}

Result<std::vector<DirectoryName>> listDirectory(int directory)
{
    DirHandle dir = openStream(directory);
    if (!dir)
        return errnoError(errno);
    std::vector<DirectoryName> names;
    for (;;) {
        errno = 0;
        struct dirent* e = readdir(dir.get());
        if (!e) {
            if (errno != 0)
                return errnoError(errno);
            break;
        }
        std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        auto kind = DirectoryName::Kind::Other;
        if (e->d_type == DT_DIR)
            kind = DirectoryName::Kind::Directory;
        else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK)
            kind = DirectoryName::Kind::Unknown;
        names.push_back({ std::string(name), kind });
    }
    return names;
}

Result<Bytes> readRange(int fd, std::int64_t start, std::int64_t end, std::uint64_t maxBytes)
{
    auto tooLarge = [maxBytes](std::uint64_t count) {
        return Error { EFBIG, std::to_string(count) + " bytes or more, more than the " + std::to_string(maxBytes) + " a read may answer" };
    };
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errnoError(errno);
    if (S_ISDIR(st.st_mode))
        return errnoError(EISDIR);
    if (!S_ISREG(st.st_mode))
        return errnoError(EINVAL);

    // The count asked for is end - start even when start is negative (reading then starts at 0).
    std::int64_t offset = std::max<std::int64_t>(start, 0);
    std::uint64_t wanted = std::numeric_limits<std::uint64_t>::max();
    if (end >= 0)
        wanted = end > start ? static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(start) : 0;

    Bytes bytes;
    if (st.st_size > 0) {
        std::uint64_t available = offset < st.st_size ? static_cast<std::uint64_t>(st.st_size - offset) : 0;
        std::uint64_t count = std::min(wanted, available);
        // Sized from what may be answered, before any byte is read: a sparse file of a terabyte
        // must not become a terabyte buffer.
        if (count > maxBytes)
            return tooLarge(count);
        bytes = ReadBuffers::shared().take(static_cast<size_t>(count));
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errnoError(errno);
            }
            if (n == 0)
                break; // the file shrank meanwhile
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
        return bytes;
    }

    // Files that report no size (kernel pseudo-files) are read in chunks until their end.
    constexpr size_t kChunk = 64 * 1024;
    std::uint64_t position = static_cast<std::uint64_t>(offset);
    while (bytes.size() < wanted) {
        if (bytes.size() > maxBytes)
            return tooLarge(bytes.size());
        size_t old = bytes.size();
        size_t chunk = static_cast<size_t>(std::min<std::uint64_t>(kChunk, wanted - old));
        bytes.resize(old + chunk);
        ssize_t n = pread(fd, bytes.data() + old, chunk, static_cast<off_t>(position));
        if (n < 0) {
            if (errno == EINTR) {
                bytes.resize(old);
                continue;
            }
            return errnoError(errno);
        }
        bytes.resize(old + static_cast<size_t>(n));
        if (n == 0)
            break;
        position += static_cast<std::uint64_t>(n);
    }
    return bytes;
}

Result<void> writeAt(int folder, const std::string& name, std::optional<std::uint64_t> keep, const Bytes& data)
{
    // Opened for writing although only read: a file the user may not write is refused here, as
    // every other change refuses it.
    FileDescriptor old(openat(folder, name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    struct stat st {};
    if (old) {
        if (fstat(old.get(), &st) != 0)
            return errnoError(errno);
        if (!S_ISREG(st.st_mode))
            return errnoError(EINVAL);
        if (auto single = checkSingleLink(st); !single)
            return single.error();
    } else if (errno != ENOENT) {
        return errnoError(errno);
    }
    if (keep && *keep > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return errnoError(EFBIG);
    // A write at or past the end costs what it writes: in place, no byte that existed touched.
    // (Set-user-id files are rewritten instead, so that their bits go.)
    auto size = static_cast<std::uint64_t>(st.st_size);
    if (old && (!keep || *keep >= size) && !(st.st_mode & (S_ISUID | S_ISGID)))
        return appendInPlace(old.get(), size, keep.value_or(size), data);

    std::string temporary;
    auto opened = openTemporaryBeside(folder, name, temporary);
    if (!opened)
        return opened.error();
    FileDescriptor fd(*opened);
    Result<void> result;
    if (old) {
        std::uint64_t kept = keep ? std::min(*keep, size) : size;
        // The owner first (where the process may): changing it would clear the mode's special bits.
        if (fchown(fd.get(), st.st_uid, st.st_gid) != 0 && errno != EPERM)
            result = errnoError(errno);
        if (st.st_mode & (S_ISUID | S_ISGID))
            log::message(format("rewriting %@ drops its set-user-id and set-group-id bits", name));
        if (result && fchmod(fd.get(), st.st_mode & 0777) != 0)
            result = errnoError(errno);
        if (result)
            result = copyRange(old.get(), fd.get(), kept);
        // Past the old end: a hole of zero bytes up to the position, as a cut that extends has.
        if (result && keep && *keep > kept) {
            if (ftruncate(fd.get(), static_cast<off_t>(*keep)) != 0 || lseek(fd.get(), static_cast<off_t>(*keep), SEEK_SET) < 0)
                result = errnoError(errno);
        }
    }
    if (result)
        result = writeLoop(fd.get(), data.data(), data.size());
    return replaceWith(fd, temporary, folder, name, std::move(result));
}

Result<void> writeAtomically(int folder, const std::string& name, const Bytes& data, std::optional<unsigned> mode)
{
    std::string temporary;
    auto opened = openTemporaryBeside(folder, name, temporary);
    if (!opened)
        return opened.error();
    FileDescriptor fd(*opened);
    Result<void> result;
    if (mode && fchmod(fd.get(), static_cast<mode_t>(*mode)) != 0)
        result = errnoError(errno);
    if (result)
        result = writeLoop(fd.get(), data.data(), data.size());
    return replaceWith(fd, temporary, folder, name, std::move(result));
}

Result<std::uint64_t> truncateTo(int fd, std::uint64_t length)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errnoError(errno);
    if (!S_ISREG(st.st_mode))
        return errnoError(EINVAL);
    if (auto single = checkSingleLink(st); !single)
        return single.error();
    if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return errnoError(EFBIG);
    if (ftruncate(fd, static_cast<off_t>(length)) != 0)
        return errnoError(errno);
    if (fsync(fd) != 0)
        return errnoError(errno);
    return length;
}

std::optional<std::uint64_t> freeSpaceNear(const std::string& path)
{
    std::string folder = path;
    while (!folder.empty()) {
        struct statvfs info;
        if (statvfs(folder.c_str(), &info) == 0)
            return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
        if (errno != ENOENT && errno != ENOTDIR)
            return std::nullopt;
        size_t slash = folder.find_last_of('/');
        if (slash == std::string::npos || folder == "/")
            return std::nullopt;
        folder = slash == 0 ? "/" : folder.substr(0, slash);
    }
    return std::nullopt;
}

} // namespace penwick::disk
