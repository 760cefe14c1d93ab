#include "base/BeneathResolver.h"
#include "base/PathComponents.h"

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace penwick {
namespace {

Error errnoError(int err) { return Error { err, std::string("path resolution: ") + strerror(err) }; }

int openBeneath(int root, const std::string& path, int flags, unsigned mode)
{
#ifdef SYS_openat2
    struct open_how how {};
    how.flags = static_cast<unsigned long long>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    int fd;
    do
        fd = static_cast<int>(syscall(SYS_openat2, root, path.c_str(), &how, sizeof how));
    while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    return fd;
#else
    (void)root, (void)path, (void)flags, (void)mode;
    errno = ENOSYS;
    return -1;
#endif
}

// Answers the kernel gives when the walk needs the component walk instead: no openat2, a link
// or ".." out of this root (maybe into another one), a link (maybe absolute) refused.
bool needsComponentWalk(int err) { return err == ENOSYS || err == EXDEV || err == ELOOP || err == E2BIG; }

std::atomic<bool> g_kernelWalks { true };

constexpr int kMaxLinks = 40;

} // namespace

BeneathResolver::BeneathResolver(std::vector<std::string> roots, Walk walk)
    : m_walk(walk)
{
    for (auto& root : roots)
        m_roots.push_back(Root { std::move(root), {}, {} });
    (void)this->roots();
}

std::vector<BeneathResolver::OpenRoot> BeneathResolver::roots() const
{
    std::lock_guard guard(m_lock);
    std::vector<OpenRoot> open;
    open.reserve(m_roots.size());
    for (auto& root : m_roots) {
        if (!root.folder && !root.configured.empty() && root.configured.front() == '/') {
            // The configured root is trusted as given, links in it included; below it, nothing is.
            FileDescriptor fd(::open(root.configured.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            std::unique_ptr<char, decltype(&std::free)> resolved(fd ? realpath(("/proc/self/fd/" + std::to_string(fd.get())).c_str(), nullptr) : nullptr, &std::free);
            if (!resolved && fd)
                resolved.reset(realpath(root.configured.c_str(), nullptr));
            if (resolved) {
                root.path = resolved.get();
                root.folder = std::move(fd);
            }
        }
        open.push_back(OpenRoot { root.path, root.folder.get() });
    }
    return open;
}

int BeneathResolver::rootFolder() const
{
    auto open = roots();
    return open.empty() ? -1 : open.front().folder;
}

std::string BeneathResolver::rootPath() const
{
    auto open = roots();
    return open.empty() ? std::string() : open.front().path;
}

Result<BeneathResolver::Entry> BeneathResolver::entry(std::string_view path, LastLink last) const
{
    auto open = roots();
    if (open.empty() || open.front().folder < 0)
        return errnoError(ENOENT);
    if (path.find('\0') != std::string_view::npos)
        return errnoError(EINVAL);
    auto parts = pathComponents(path);
    if (parts.empty())
        return Entry { FileDescriptor(fcntl(open.front().folder, F_DUPFD_CLOEXEC, 0)), "." };
    if (m_walk == Walk::Kernel && g_kernelWalks.load(std::memory_order_relaxed) && parts.back() != "..") {
        std::string folderPath;
        for (size_t i = 0; i + 1 < parts.size(); ++i)
            folderPath += (i ? "/" : "") + parts[i];
        FileDescriptor folder(folderPath.empty() ? fcntl(open.front().folder, F_DUPFD_CLOEXEC, 0)
                                                 : openBeneath(open.front().folder, folderPath, O_PATH | O_DIRECTORY, 0));
        if (folder) {
            struct stat st;
            bool isLink = fstatat(folder.get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            if (!isLink || last == LastLink::Keep)
                return Entry { std::move(folder), parts.back() };
        } else if (!needsComponentWalk(errno)) {
            return errnoError(errno);
        } else if (errno == ENOSYS) {
            g_kernelWalks.store(false, std::memory_order_relaxed);
        }
    }
    return walk(open, path, last);
}

Result<BeneathResolver::Entry> BeneathResolver::walk(const std::vector<OpenRoot>& roots, std::string_view path, LastLink last) const
{
    // Where the walk stands: a root, and the folders opened below it (the last one is current).
    size_t root = 0;
    std::vector<FileDescriptor> folders;
    auto current = [&] { return folders.empty() ? roots[root].folder : folders.back().get(); };
    // Names still to walk, the next one last.
    std::vector<std::string> pending;
    auto push = [&pending](std::vector<std::string> parts) { pending.insert(pending.end(), parts.rbegin(), parts.rend()); };
    // Goes on from the root that holds an absolute path (lexically, the deepest one); ".." or "."
    // before a root is reached is refused rather than guessed.
    auto reanchor = [&](const std::vector<std::string>& absolute) -> bool {
        size_t best = roots.size(), bestDepth = 0;
        for (size_t r = 0; r < roots.size(); ++r) {
            if (roots[r].folder < 0)
                continue;
            auto rootParts = pathComponents(roots[r].path);
            if (rootParts.size() > absolute.size() || (best < roots.size() && rootParts.size() < bestDepth))
                continue;
            if (std::equal(rootParts.begin(), rootParts.end(), absolute.begin())) {
                best = r;
                bestDepth = rootParts.size();
            }
        }
        if (best == roots.size())
            return false;
        for (size_t i = 0; i < bestDepth; ++i) {
            if (absolute[i] == ".." || absolute[i] == ".")
                return false;
        }
        root = best;
        folders.clear();
        push(std::vector<std::string>(absolute.begin() + static_cast<std::ptrdiff_t>(bestDepth), absolute.end()));
        return true;
    };

    push(pathComponents(path));
    int links = 0;
    while (!pending.empty()) {
        std::string name = std::move(pending.back());
        pending.pop_back();
        if (name == ".")
            continue;
        if (name == "..") {
            if (!folders.empty()) {
                folders.pop_back();
                continue;
            }
            // Above a root: on only where that lands in (another) root.
            auto above = pathComponents(roots[root].path);
            if (above.empty())
                continue; // ".." of "/" is "/"
            above.pop_back();
            std::vector<std::string> rest(pending.rbegin(), pending.rend());
            pending.clear();
            above.insert(above.end(), rest.begin(), rest.end());
            if (!reanchor(above))
                return errnoError(EXDEV);
            continue;
        }
        bool isLast = pending.empty();
        struct stat st;
        FileDescriptor item(openat(current(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!item) {
            if (isLast && errno == ENOENT)
                return Entry { FileDescriptor(fcntl(current(), F_DUPFD_CLOEXEC, 0)), name };
            return errnoError(errno);
        }
        if (fstat(item.get(), &st) != 0)
            return errnoError(errno);
        if (S_ISLNK(st.st_mode) && (!isLast || last == LastLink::Follow)) {
            if (++links > kMaxLinks)
                return errnoError(ELOOP);
            char target[PATH_MAX];
            ssize_t n = readlinkat(item.get(), "", target, sizeof target);
            if (n < 0)
                return errnoError(errno);
            std::string_view text(target, static_cast<size_t>(n));
            if (!text.empty() && text.front() == '/') {
                auto absolute = pathComponents(text);
                std::vector<std::string> rest(pending.rbegin(), pending.rend());
                pending.clear();
                absolute.insert(absolute.end(), rest.begin(), rest.end());
                if (!reanchor(absolute))
                    return errnoError(EXDEV);
            } else {
                push(pathComponents(text));
            }
            continue;
        }
        if (isLast)
            return Entry { FileDescriptor(fcntl(current(), F_DUPFD_CLOEXEC, 0)), name };
        if (!S_ISDIR(st.st_mode))
            return errnoError(ENOTDIR);
        folders.push_back(std::move(item));
    }
    // Ended on a folder reached through ".." or a link: the folder itself.
    return Entry { folders.empty() ? FileDescriptor(fcntl(roots[root].folder, F_DUPFD_CLOEXEC, 0)) : std::move(folders.back()), "." };
}

Result<FileDescriptor> BeneathResolver::open(std::string_view path, int flags, LastLink last, unsigned mode) const
{
    if (m_walk == Walk::Kernel && g_kernelWalks.load(std::memory_order_relaxed) && path.find('\0') == std::string_view::npos) {
        int root = rootFolder();
        if (root < 0)
            return errnoError(ENOENT);
        // Empty names dropped as the component walk drops them ("a//b", "a/" of a file).
        std::string relative;
        for (const auto& part : pathComponents(path))
            relative += (relative.empty() ? "" : "/") + part;
        int fd = openBeneath(root, relative.empty() ? "." : relative, flags | (last == LastLink::Keep ? O_NOFOLLOW : 0), mode);
        if (fd >= 0)
            return FileDescriptor(fd);
        if (!needsComponentWalk(errno))
            return errnoError(errno);
        if (errno == ENOSYS)
            g_kernelWalks.store(false, std::memory_order_relaxed);
    }
    auto found = entry(path, last);
    if (!found)
        return found.error();
    int fd = openat(found->folder.get(), found->name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return errnoError(errno);
    return FileDescriptor(fd);
}

} // namespace penwick
