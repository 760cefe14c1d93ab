#include "plugins/file/LocalDisk.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace penwick::disk {
namespace {

Error errnoError(int err)
{
    return Error { err, g_strerror(err) };
}

// Closes a descriptor on every return path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) { }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closing can report a delayed write error (NFS, quota); writers must look at it.
    int close()
    {
        int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::string joinPath(const std::string& directory, const std::string& name)
{
    if (!directory.empty() && directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
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

// Copies up to `count` bytes from the current offset of `from` to that of `to` (fewer when `from`
// ends first).
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
    auto buffer = std::make_unique<std::uint8_t[]>(kChunk);
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

// A random hidden name beside `path` for a temporary file.
std::string temporaryName(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return directory + "." + name + "." + std::to_string(g_random_int()) + ".tmp";
}

// A new, empty file beside `path` that only this call knows. Where the volume allows, it has no
// name until its content is complete (`temporary` stays empty), so a host killed while writing
// leaves nothing behind; elsewhere it gets a hidden random name, made with O_EXCL. Either way the
// kernel applies the umask to 0666, as for any new file, without touching the process-wide umask.
Result<int> openTemporaryBeside(const std::string& path, std::string& temporary)
{
    temporary.clear();
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0)
        return fd;
    // Volumes without unnamed files say so in one of these ways; anything else is the answer.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return errnoError(errno);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(path);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            return errnoError(errno);
    }
    return errnoError(EEXIST);
}

// Gives the unnamed file `fd` a hidden name beside `path`, for the rename that follows.
Result<void> nameTemporary(int fd, const std::string& path, std::string& temporary)
{
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(path);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return {};
        int err = errno;
        // Without /proc the descriptor itself may be linked (where the kernel allows it).
        if (err == ENOENT && ::linkat(fd, "", AT_FDCWD, temporary.c_str(), AT_EMPTY_PATH) == 0)
            return {};
        if (err != EEXIST) {
            temporary.clear();
            return errnoError(err);
        }
    }
    temporary.clear();
    return errnoError(EEXIST);
}

// Flushes and closes the finished temporary file and renames it over `path`; on any failure the
// temporary file goes and `path` is untouched.
Result<void> replaceWith(FileDescriptor& fd, std::string temporary, const std::string& path, Result<void> result)
{
    // Renamed only once its bytes are on the disk: a crash then leaves the old or the new file.
    if (result && fdatasync(fd.get()) != 0)
        result = errnoError(errno);
    if (result && temporary.empty())
        result = nameTemporary(fd.get(), path, temporary);
    if (result && fd.close() != 0)
        result = errnoError(errno);
    if (result && ::rename(temporary.c_str(), path.c_str()) != 0)
        result = errnoError(errno);
    if (!result && !temporary.empty())
        ::unlink(temporary.c_str());
    return result;
}

Result<void> copyFile(const std::string& source, const std::string& destination)
{
    FileDescriptor from(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!from)
        return errnoError(errno);
    struct stat st;
    if (fstat(from.get(), &st) != 0)
        return errnoError(errno);
    if (!S_ISREG(st.st_mode))
        return errnoError(EINVAL);
    FileDescriptor to(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
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
        to.close();
        ::unlink(destination.c_str());
    }
    return result;
}

Result<void> copyItem(const std::string& source, const std::string& destination, const LinkFilter& keepLink)
{
    struct stat st;
    if (lstat(source.c_str(), &st) != 0)
        return errnoError(errno);
    if (S_ISREG(st.st_mode))
        return copyFile(source, destination);
    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        ssize_t n = readlink(source.c_str(), target.data(), target.size());
        if (n < 0)
            return errnoError(errno);
        target.resize(static_cast<size_t>(n));
        if (symlink(target.c_str(), destination.c_str()) != 0)
            return errnoError(errno);
        if (keepLink && !keepLink(destination))
            ::unlink(destination.c_str());
        return {};
    }
    if (!S_ISDIR(st.st_mode))
        return errnoError(ENOTSUP);

    if (mkdir(destination.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0)
        return errnoError(errno);
    auto fail = [&](Error error) -> Result<void> {
        (void)removeTree(destination);
        return error;
    };
    auto names = listDirectory(source);
    if (!names)
        return fail(names.error());
    for (const auto& entry : *names) {
        if (auto copied = copyItem(joinPath(source, entry.name), joinPath(destination, entry.name), keepLink); !copied)
            return fail(copied.error());
    }
    chmod(destination.c_str(), st.st_mode & 07777);
    return {};
}

} // namespace

PathInfo probe(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return { true, S_ISDIR(st.st_mode) };
}

bool directoryHasEntries(const std::string& path)
{
    DirHandle dir(opendir(path.c_str()));
    if (!dir)
        return false;
    while (struct dirent* e = readdir(dir.get())) {
        std::string_view name = e->d_name;
        if (name != "." && name != "..")
            return true;
    }
    return false;
}

Result<std::vector<DirectoryName>> listDirectory(const std::string& path)
{
    DirHandle dir(opendir(path.c_str()));
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

Result<Bytes> readRange(const std::string& path, std::int64_t start, std::int64_t end, std::uint64_t maxBytes)
{
    auto tooLarge = [maxBytes](std::uint64_t count) {
        return Error { EFBIG, std::to_string(count) + " bytes or more, more than the " + std::to_string(maxBytes) + " a read may answer" };
    };
    // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused below anyway.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return errnoError(errno);
    struct stat st;
    if (fstat(fd.get(), &st) != 0)
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
        bytes.resize(static_cast<size_t>(count));
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = pread(fd.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
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
        ssize_t n = pread(fd.get(), bytes.data() + old, chunk, static_cast<off_t>(position));
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

Result<void> writeAt(const std::string& path, std::optional<std::uint64_t> keep, const Bytes& data)
{
    std::string target = path;
    FileDescriptor old(-1);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return errnoError(EINVAL);
        // Through a symbolic link the file it names is replaced; the link stays.
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
        if (!resolved)
            return errnoError(errno);
        target = resolved.get();
        old.reset(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!old)
            return errnoError(errno);
        if (fstat(old.get(), &st) != 0)
            return errnoError(errno);
    } else if (errno != ENOENT) {
        return errnoError(errno);
    }
    if (keep && *keep > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return errnoError(EFBIG);

    std::string temporary;
    auto opened = openTemporaryBeside(target, temporary);
    if (!opened)
        return opened.error();
    FileDescriptor fd(*opened);
    Result<void> result;
    if (old) {
        auto size = static_cast<std::uint64_t>(st.st_size);
        std::uint64_t kept = keep ? std::min(*keep, size) : size;
        if (fchmod(fd.get(), st.st_mode & 07777) != 0)
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
    return replaceWith(fd, temporary, target, std::move(result));
}

Result<void> writeAtomically(const std::string& path, const Bytes& data, std::optional<unsigned> mode)
{
    std::string temporary;
    auto opened = openTemporaryBeside(path, temporary);
    if (!opened)
        return opened.error();
    FileDescriptor fd(*opened);
    Result<void> result;
    if (mode && fchmod(fd.get(), static_cast<mode_t>(*mode)) != 0)
        result = errnoError(errno);
    if (result)
        result = writeLoop(fd.get(), data.data(), data.size());
    return replaceWith(fd, temporary, path, std::move(result));
}

Result<std::uint64_t> truncateTo(const std::string& path, std::uint64_t length)
{
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return errnoError(errno);
    struct stat st;
    if (fstat(fd.get(), &st) != 0)
        return errnoError(errno);
    if (!S_ISREG(st.st_mode))
        return errnoError(EINVAL);
    if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return errnoError(EFBIG);
    if (ftruncate(fd.get(), static_cast<off_t>(length)) != 0)
        return errnoError(errno);
    if (fsync(fd.get()) != 0 || fd.close() != 0)
        return errnoError(errno);
    return length;
}

std::optional<std::string> resolvePath(const std::string& path)
{
    // Components still to walk, the next one last.
    std::vector<std::string> pending;
    auto push = [&pending](const std::string& p) {
        std::vector<std::string> parts;
        size_t i = 0;
        while (i <= p.size()) {
            size_t next = p.find('/', i);
            if (next == std::string::npos)
                next = p.size();
            if (next > i)
                parts.push_back(p.substr(i, next - i));
            i = next + 1;
        }
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    };
    push(path);
    std::string resolved = "/";
    int links = 0;
    bool missing = false;
    while (!pending.empty()) {
        std::string component = std::move(pending.back());
        pending.pop_back();
        if (component == ".")
            continue;
        if (component == "..") {
            size_t slash = resolved.rfind('/');
            resolved = slash == 0 ? "/" : resolved.substr(0, slash);
            continue;
        }
        std::string next = resolved == "/" ? "/" + component : resolved + "/" + component;
        struct stat st;
        int found = missing ? -1 : lstat(next.c_str(), &st);
        if (found == 0 && S_ISLNK(st.st_mode)) {
            if (++links > 40)
                return std::nullopt;
            std::string target(PATH_MAX, '\0');
            ssize_t n = readlink(next.c_str(), target.data(), target.size());
            if (n < 0)
                return std::nullopt;
            target.resize(static_cast<size_t>(n));
            if (!target.empty() && target.front() == '/')
                resolved = "/";
            push(target);
            continue;
        }
        // Below a name that does not exist (or cannot be looked at) nothing can be a link: the
        // rest is taken as written.
        if (found != 0)
            missing = true;
        resolved = std::move(next);
    }
    return resolved;
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

Result<void> removeTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return errnoError(errno);
    if (!S_ISDIR(st.st_mode)) {
        if (unlink(path.c_str()) != 0)
            return errnoError(errno);
        return {};
    }
    auto names = listDirectory(path);
    if (!names)
        return names.error();
    for (const auto& entry : *names) {
        if (auto removed = removeTree(joinPath(path, entry.name)); !removed)
            return removed;
    }
    if (rmdir(path.c_str()) != 0)
        return errnoError(errno);
    return {};
}

Result<void> copyTree(const std::string& source, const std::string& destination, const LinkFilter& keepLink)
{
    struct stat st;
    if (lstat(destination.c_str(), &st) == 0)
        return errnoError(EEXIST);
    return copyItem(source, destination, keepLink);
}

Result<void> moveItem(const std::string& source, const std::string& destination, const LinkFilter& keepLink)
{
    if (::rename(source.c_str(), destination.c_str()) == 0)
        return {};
    if (errno != EXDEV)
        return errnoError(errno);
    if (auto copied = copyTree(source, destination, keepLink); !copied)
        return copied;
    // Both copies exist now; a source that won't go away is reported, and nothing is lost.
    return removeTree(source);
}

} // namespace penwick::disk
