#pragma once

#include <string>

#include "base/Result.h"

namespace penwick::platform {

// Keeps a second process of the same application from running beside this one where there is no
// session bus to ask: an exclusive lock on a file, held until the process ends (the kernel drops
// it when the process dies, so a killed instance leaves nothing that blocks the next start).
class InstanceLock {
public:
    // Takes the lock on `path`, creating the file; refused unless the folder is the user's alone and
    // the file a regular file of the user's. The error names the process holding it, when that can
    // be told.
    static Result<InstanceLock> acquire(const std::string& path);
    // `$XDG_DATA_HOME/<application id>/instance.lock` when that folder is the user's alone and can
    // be written, else `<application id>.lock` in $XDG_RUNTIME_DIR so, else in the user's cache folder.
    static std::string defaultPath(const std::string& applicationId);

    InstanceLock(InstanceLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

private:
    explicit InstanceLock(int fd) : m_fd(fd) { }
    int m_fd = -1;
};

} // namespace penwick::platform
