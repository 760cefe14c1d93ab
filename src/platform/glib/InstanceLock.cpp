#include "platform/glib/InstanceLock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/GRef.h"

namespace penwick::platform {

namespace {

// A folder nobody else can put a file or a link into: the user's own, writable by no one else.
Result<void> checkOwnFolder(int fd, const std::string& folder)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return Error { errno, "cannot look at " + folder + ": " + std::strerror(errno) };
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return Error { EPERM, folder + " is not a folder of this user's alone" };
    return {};
}

bool isOwnFolder(const std::string& folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOENT; // made as the user's own
    bool own = static_cast<bool>(checkOwnFolder(fd, folder));
    ::close(fd);
    return own;
}

// Whether the lock's file can be made in `folder`: one of the user's alone that can be written, or
// one to be made where that can be done.
bool canHold(const std::string& folder)
{
    if (!isOwnFolder(folder))
        return false;
    if (access(folder.c_str(), W_OK) == 0)
        return true;
    if (errno != ENOENT)
        return false;
    GUnique<char> parent(g_path_get_dirname(folder.c_str()));
    return access(parent.get(), W_OK) == 0 || errno == ENOENT;
}

// The holder's process id as the file gives it; anything else is not shown (another user's file
// could hold terminal escapes).
std::string holderOf(int fd)
{
    char holder[32] = {};
    ssize_t length = pread(fd, holder, sizeof holder - 1, 0);
    std::string owner = length > 0 ? std::string(holder, static_cast<std::size_t>(length)) : std::string();
    while (!owner.empty() && (owner.back() == '\n' || owner.back() == ' '))
        owner.pop_back();
    bool digits = !owner.empty() && owner.size() < 12
        && std::all_of(owner.begin(), owner.end(), [](char c) { return c >= '0' && c <= '9'; });
    return digits ? owner : std::string();
}

} // namespace

Result<InstanceLock> InstanceLock::acquire(const std::string& path)
{
    GUnique<char> folder(g_path_get_dirname(path.c_str()));
    GUnique<char> name(g_path_get_basename(path.c_str()));
    if (g_mkdir_with_parents(folder.get(), 0700) != 0)
        return Error { errno, "cannot create " + std::string(folder.get()) + ": " + std::strerror(errno) };
    // The file is opened beneath the folder, never through a link: a link or a file of another user
    // in its place would take the lock elsewhere or none at all.
    int dirfd = open(folder.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (dirfd < 0)
        return Error { errno, "cannot open " + std::string(folder.get()) + ": " + std::strerror(errno) };
    auto own = checkOwnFolder(dirfd, folder.get());
    int fd = own ? openat(dirfd, name.get(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600) : -1;
    int openError = errno;
    ::close(dirfd);
    if (!own)
        return own.error();
    if (fd < 0)
        return Error { openError, "cannot open " + path + ": " + std::strerror(openError) };
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        ::close(fd);
        return Error { EPERM, path + " is not a file of this user's" };
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int code = errno;
        std::string owner = code == EWOULDBLOCK ? holderOf(fd) : std::string();
        ::close(fd);
        if (code != EWOULDBLOCK)
            return Error { code, "cannot lock " + path + ": " + std::strerror(code) };
        return Error { code, owner.empty() ? "another process holds " + path : "process " + owner + " holds " + path };
    }
    // Who holds it, for the message the next start gives.
    std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds without it; only the message loses the pid.
    }
    return InstanceLock(fd);
}

std::string InstanceLock::defaultPath(const std::string& applicationId)
{
    // With the storage it guards, which two logins of the user share even where their runtime
    // folders differ. A folder shared with other users (XDG_RUNTIME_DIR=/tmp) or one that cannot be
    // written (a read-only home) is passed over.
    const std::string data = std::string(g_get_user_data_dir()) + "/" + applicationId;
    if (canHold(data))
        return data + "/instance.lock";
    std::string folder = g_get_user_runtime_dir();
    if (!canHold(folder))
        folder = g_get_user_cache_dir();
    return folder + "/" + applicationId + ".lock";
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace penwick::platform
