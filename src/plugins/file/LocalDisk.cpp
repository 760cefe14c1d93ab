#include "plugins/file/LocalDisk.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
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

Result<void> copyFileContents(int from, int to, off_t size)
{
    // Kernel copy first: no round trip through user space, and reflinks where the file system has them.
    bool offload = true;
    off_t copied = 0;
    while (offload) {
        ssize_t n = copy_file_range(from, nullptr, to, nullptr, static_cast<size_t>(std::max<off_t>(size - copied, 1 << 20)), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if ((errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) && copied == 0) {
                offload = false;
                break;
            }
            return errnoError(errno);
        }
        if (n == 0) {
            if (copied >= size)
                return {};
            break; // no offload for this pair of files after all; the offsets have moved on, go on by hand
        }
        copied += n;
    }
    constexpr size_t kChunk = 1 << 20;
    auto buffer = std::make_unique<std::uint8_t[]>(kChunk);
    for (;;) {
        ssize_t n = ::read(from, buffer.get(), kChunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errnoError(errno);
        }
        if (n == 0)
            return {};
        if (auto written = writeLoop(to, buffer.get(), static_cast<size_t>(n)); !written)
            return written.error();
    }
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
    auto result = copyFileContents(from.get(), to.get(), st.st_size);
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

Result<void> copyItem(const std::string& source, const std::string& destination)
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
        if (auto copied = copyItem(joinPath(source, entry.name), joinPath(destination, entry.name)); !copied)
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

Result<Bytes> readRange(const std::string& path, std::int64_t start, std::int64_t end)
{
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
        if (count > bytes.max_size())
            return errnoError(EFBIG);
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

Result<void> writeAll(const std::string& path, const Bytes& data, Append append)
{
    if (append == Append::No) {
        struct stat existing;
        if (::stat(path.c_str(), &existing) == 0) {
            if (!S_ISREG(existing.st_mode))
                return errnoError(EINVAL);
            // Replacing in place would empty the file before the new bytes are safe: a full volume
            // would then lose the old content. Write beside it and rename over it instead (through
            // a symbolic link to its target, keeping its permissions).
            std::unique_ptr<char, decltype(&std::free)> target(::realpath(path.c_str(), nullptr), &std::free);
            if (target) {
                auto replaced = writeAtomically(target.get(), data, existing.st_mode & 07777);
                // A folder we may not add to, holding a file we may write: replace in place.
                if (replaced || (replaced.error().code != EACCES && replaced.error().code != EPERM))
                    return replaced;
            }
        }
    }
    // O_NONBLOCK: a FIFO without a reader must not hold the writer forever; only regular files
    // are written.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (append == Append::Yes ? O_APPEND : O_TRUNC);
    FileDescriptor fd(::open(path.c_str(), flags, 0666));
    if (!fd)
        return errnoError(errno);
    struct stat st;
    if (fstat(fd.get(), &st) != 0)
        return errnoError(errno);
    if (!S_ISREG(st.st_mode))
        return errnoError(EINVAL);
    off_t originalLength = append == Append::Yes ? st.st_size : 0;
    auto result = writeLoop(fd.get(), data.data(), data.size());
    if (!result) {
        // Give back what the failed write took: the file is as it was before the write began.
        (void)!ftruncate(fd.get(), originalLength);
        return result;
    }
    if (fd.close() != 0)
        return errnoError(errno);
    return {};
}

Result<void> writeAtomically(const std::string& path, const Bytes& data, std::optional<unsigned> mode)
{
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // open() with O_EXCL rather than mkstemp: the kernel then applies the umask to 0666, as for any
    // new file, without touching the process-wide umask.
    std::string temporary;
    int rawFd = -1;
    for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
        temporary = directory + "." + name + "." + std::to_string(g_random_int()) + ".tmp";
        rawFd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (rawFd < 0 && errno != EEXIST)
            return errnoError(errno);
    }
    FileDescriptor fd(rawFd);
    if (!fd)
        return errnoError(EEXIST);
    Result<void> result;
    if (mode && fchmod(fd.get(), static_cast<mode_t>(*mode)) != 0)
        result = errnoError(errno);
    if (result)
        result = writeLoop(fd.get(), data.data(), data.size());
    if (result && fd.close() != 0)
        result = errnoError(errno);
    if (result && ::rename(temporary.c_str(), path.c_str()) != 0)
        result = errnoError(errno);
    if (!result)
        ::unlink(temporary.c_str());
    return result;
}

std::uint64_t truncateTo(const std::string& path, std::uint64_t position)
{
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return 0;
    if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) || ftruncate(fd.get(), static_cast<off_t>(position)) != 0)
        return 0;
    off_t offset = lseek(fd.get(), static_cast<off_t>(position), SEEK_SET);
    fsync(fd.get());
    return offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
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

Result<void> copyTree(const std::string& source, const std::string& destination)
{
    struct stat st;
    if (lstat(destination.c_str(), &st) == 0)
        return errnoError(EEXIST);
    return copyItem(source, destination);
}

Result<void> moveItem(const std::string& source, const std::string& destination)
{
    if (::rename(source.c_str(), destination.c_str()) == 0)
        return {};
    if (errno != EXDEV)
        return errnoError(errno);
    if (auto copied = copyTree(source, destination); !copied)
        return copied;
    // Both copies exist now; a source that won't go away is reported, and nothing is lost.
    return removeTree(source);
}

} // namespace penwick::disk
