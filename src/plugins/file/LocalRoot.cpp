#include "plugins/file/LocalRoot.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "base/PathComponents.h"

namespace penwick {

LocalRoot::LocalRoot(std::string root)
    : m_root(std::move(root))
{
    setReachableRoots({});
}

void LocalRoot::setReachableRoots(const std::vector<std::string>& roots)
{
    std::vector<std::string> all { m_root };
    for (const auto& root : roots) {
        if (!root.empty() && root != m_root)
            all.push_back(root);
    }
    m_resolver = std::make_unique<BeneathResolver>(std::move(all));
}

bool LocalRoot::hasDotDotComponent(std::string_view path)
{
    size_t i = 0;
    while (i <= path.size()) {
        size_t next = path.find('/', i);
        if (next == std::string_view::npos)
            next = path.size();
        if (path.substr(i, next - i) == "..")
            return true;
        i = next + 1;
    }
    return false;
}

std::string LocalRoot::stripQuery(const std::string& path)
{
    size_t question = path.find('?');
    return question == std::string::npos ? path : path.substr(0, question);
}

std::string LocalRoot::lastComponent(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path == "/")
        return path;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LocalRoot::append(const std::string& base, const std::string& component)
{
    std::string joined = base.empty() ? component : base + "/" + component;
    std::string out;
    out.reserve(joined.size());
    for (char c : joined) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::string LocalRoot::join(const std::string& directory, const std::string& name)
{
    if (!directory.empty() && directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

bool LocalRoot::isRoot(const BeneathResolver::Entry& item) const
{
    if (item.name == ".")
        return true;
    struct stat st, root;
    return fstatat(item.folder.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
        && fstatat(folder(), ".", &root, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == root.st_dev && st.st_ino == root.st_ino;
}

Error LocalRoot::asMissing(Error error)
{
    if (error.code == EXDEV || error.code == ELOOP)
        error.code = ENOENT;
    return error;
}

FileError LocalRoot::resolutionError(const Error& error)
{
    if (error.code == EXDEV || error.code == ELOOP || error.code == ENOENT || error.code == ENOTDIR)
        return FileError::NOT_FOUND_ERR;
    return fileErrorFromErrno(error.code, FileAccess::Changing, FileError::NOT_FOUND_ERR);
}

bool LocalRoot::leadsOut(const std::string& path) const
{
    auto found = m_resolver->entry(path, LastLink::Follow);
    return !found && (found.error().code == EXDEV || found.error().code == ELOOP);
}

bool LocalRoot::reaches(const std::string& localPath) const
{
    auto path = fullPath(localPath);
    // Parts that do not exist are taken as written: nothing below them can be a link.
    return path && !leadsOut(*path);
}

Result<FileDescriptor> LocalRoot::open(const std::string& path, int flags) const
{
    if (!localPath(path))
        return Error { ENOENT, "no such item in the file system" };
    return m_resolver->open(path, flags);
}

Result<BeneathResolver::Entry> LocalRoot::locate(const std::string& path, LastLink last) const
{
    if (m_root.empty() || hasDotDotComponent(path) || hasNul(path))
        return Error { ENOENT, "no such item in the file system" };
    return m_resolver->entry(path, last);
}

disk::PathInfo LocalRoot::probe(const std::string& path) const
{
    auto found = locate(stripQuery(path), LastLink::Follow);
    return found ? disk::probeAt(found->folder.get(), found->name) : disk::PathInfo {};
}

std::optional<std::string> LocalRoot::lexicalLocalPath(const std::string& path) const
{
    // An empty root would make every full path a path from "/" of the disk.
    if (m_root.empty())
        return std::nullopt;
    // ".." is refused rather than resolved: raw or decoded from "%2e%2e" / "..%2f", it could climb
    // out of the root. So is NUL: the kernel would end the path there, after the check.
    if (hasDotDotComponent(path) || hasNul(path))
        return std::nullopt;
    std::string local = m_root;
    // A full path without its leading "/" (as listings of the root "/" give) must still land below
    // the root, not beside it.
    if (!path.empty() && path.front() != '/' && local.back() != '/')
        local += '/';
    local += path;
    if (local.size() >= 2 && local.back() == '/')
        local.pop_back();
    return local;
}

std::optional<std::string> LocalRoot::localPath(const std::string& path) const
{
    auto local = lexicalLocalPath(path);
    if (!local || leadsOut(path))
        return std::nullopt;
    return local;
}

std::optional<std::string> LocalRoot::fullPath(const std::string& localPath) const
{
    if (m_root.empty() || localPath.compare(0, m_root.size(), m_root) != 0)
        return std::nullopt;
    // "/data/t" owns "/data/t" and "/data/t/...", never "/data/tx/...".
    if (localPath.size() > m_root.size() && m_root.back() != '/' && localPath[m_root.size()] != '/')
        return std::nullopt;
    std::string rest = localPath.substr(m_root.size());
    if (hasDotDotComponent(rest))
        return std::nullopt;
    return rest;
}

std::string LocalRoot::normalize(const std::string& path)
{
    bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string> components = pathComponents(path);
    size_t index = 0;
    while (index < components.size()) {
        if (components[index] == "..") {
            components.erase(components.begin() + static_cast<std::ptrdiff_t>(index));
            if (index > 0) {
                components.erase(components.begin() + static_cast<std::ptrdiff_t>(index - 1));
                --index;
            }
        } else {
            ++index;
        }
    }
    std::string out = absolute ? "/" : "";
    for (size_t k = 0; k < components.size(); ++k) {
        if (k)
            out += '/';
        out += components[k];
    }
    return out;
}

} // namespace penwick
