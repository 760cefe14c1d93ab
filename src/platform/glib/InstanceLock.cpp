#include "platform/glib/InstanceLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <unistd.h>

#include "base/GRef.h"

namespace penwick::platform {

Result<InstanceLock> InstanceLock::acquire(const std::string& path)
{
    GUnique<char> folder(g_path_get_dirname(path.c_str()));
    if (g_mkdir_with_parents(folder.get(), 0700) != 0)
        return Error { errno, "cannot create " + std::string(folder.get()) + ": " + std::strerror(errno) };
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Error { errno, "cannot open " + path + ": " + std::strerror(errno) };
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int code = errno;
        char holder[32] = {};
        ssize_t length = pread(fd, holder, sizeof holder - 1, 0);
        ::close(fd);
        if (code != EWOULDBLOCK)
            return Error { code, "cannot lock " + path + ": " + std::strerror(code) };
        std::string owner = length > 0 ? std::string(holder, static_cast<std::size_t>(length)) : std::string();
        while (!owner.empty() && (owner.back() == '\n' || owner.back() == ' '))
            owner.pop_back();
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
    return std::string(g_get_user_runtime_dir()) + "/" + applicationId + ".lock";
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
