#include "plugins/file/WHLocalFilesystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "plugins/file/LocalDisk.h"

namespace penwick {
namespace {

WHPluginResult fileError(CommandStatus status, FileError error)
{
    return WHPluginResult::resultWithStatusMessageAsInt(status, fileErrorCode(error));
}

bool hasDotDotComponent(std::string_view path)
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

bool hasNul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

// The last component, ignoring trailing "/"; "/" for "/", "" for "".
std::string lastPathComponent(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path == "/")
        return path;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Joins as path components: one "/" between the two, runs of "/" collapsed, no trailing "/".
std::string appendPathComponent(const std::string& base, const std::string& component)
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

std::string joinLocalPath(const std::string& directory, const std::string& name)
{
    if (!directory.empty() && directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

bool boolOption(const Value& options, const std::string& key)
{
    if (!WHLocalFilesystem::valueForKeyIsNumber(options, key))
        return false;
    const Value& v = options.at(key);
    if (v.is_boolean())
        return v.get<bool>();
    return v.get<double>() != 0;
}

using LastLink = BeneathResolver::LastLink;

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

// A link out of the roots, or a loop of links, is no item of the file system: as if missing.
Error asMissing(Error error)
{
    if (error.code == EXDEV || error.code == ELOOP)
        error.code = ENOENT;
    return error;
}

// A link out of the roots, or a loop of links, is no item of the file system: as if missing.
FileError resolutionError(const Error& error)
{
    if (error.code == EXDEV || error.code == ELOOP || error.code == ENOENT || error.code == ENOTDIR)
        return FileError::NOT_FOUND_ERR;
    return fileErrorFromErrno(error.code, FileAccess::Changing, FileError::NOT_FOUND_ERR);
}

} // namespace

WHLocalFilesystem::WHLocalFilesystem(std::string name, std::string root)
    : m_name(std::move(name))
{
    setFsRoot(std::move(root));
}

void WHLocalFilesystem::setFsRoot(std::string root)
{
    m_fsRoot = std::move(root);
    setReachableRoots({ m_fsRoot });
}

void WHLocalFilesystem::setReachableRoots(const std::vector<std::string>& roots)
{
    std::vector<std::string> all { m_fsRoot };
    for (const auto& root : roots) {
        if (!root.empty() && root != m_fsRoot)
            all.push_back(root);
    }
    m_resolver = std::make_unique<BeneathResolver>(std::move(all));
}

bool WHLocalFilesystem::reaches(const std::string& localPath) const
{
    auto path = fullPathForFileSystemPath(localPath);
    if (!path)
        return false;
    // Parts that do not exist are taken as written: nothing below them can be a link.
    auto found = m_resolver->entry(*path, LastLink::Follow);
    return found || (found.error().code != EXDEV && found.error().code != ELOOP);
}

Result<FileDescriptor> WHLocalFilesystem::openBeneath(const std::string& path, int flags) const
{
    if (!filesystemPathForPath(path))
        return Error { ENOENT, "no such item in the file system" };
    return m_resolver->open(path, flags);
}

Result<BeneathResolver::Entry> WHLocalFilesystem::locatePath(const std::string& path, LastLink last) const
{
    if (m_fsRoot.empty() || hasDotDotComponent(path) || hasNul(path))
        return Error { ENOENT, "no such item in the file system" };
    return m_resolver->entry(path, last);
}

Result<BeneathResolver::Entry> WHLocalFilesystem::locate(const WHFilesystemURL& url, LastLink last) const
{
    if (!url.fullPath())
        return Error { ENOENT, "no such item in the file system" };
    return locatePath(stripQueryParametersFromPath(*url.fullPath()), last);
}

disk::PathInfo WHLocalFilesystem::probePath(const std::string& path) const
{
    auto found = locatePath(stripQueryParametersFromPath(path), LastLink::Follow);
    return found ? disk::probeAt(found->folder.get(), found->name) : disk::PathInfo {};
}

// MARK: Paths and URLs

std::string WHLocalFilesystem::stripQueryParametersFromPath(const std::string& path)
{
    size_t question = path.find('?');
    return question == std::string::npos ? path : path.substr(0, question);
}

std::optional<std::string> WHLocalFilesystem::filesystemPathForFullPath(const std::string& fullPath) const
{
    return filesystemPathForPath(stripQueryParametersFromPath(fullPath));
}

std::optional<std::string> WHLocalFilesystem::lexicalLocalPath(const std::string& path) const
{
    // An empty root would make every full path a path from "/" of the disk.
    if (m_fsRoot.empty())
        return std::nullopt;
    // ".." is refused rather than resolved: raw or decoded from "%2e%2e" / "..%2f", it could climb
    // out of the root. So is NUL: the kernel would end the path there, after the check.
    if (hasDotDotComponent(path) || hasNul(path))
        return std::nullopt;
    std::string local = m_fsRoot;
    // A full path without its leading "/" (as listings of the root "/" give) must still land below
    // the root, not beside it.
    if (!path.empty() && path.front() != '/' && local.back() != '/')
        local += '/';
    local += path;
    if (local.size() >= 2 && local.back() == '/')
        local.pop_back();
    return local;
}

std::optional<std::string> WHLocalFilesystem::filesystemPathForPath(const std::string& path) const
{
    auto local = lexicalLocalPath(path);
    if (!local)
        return std::nullopt;
    auto found = m_resolver->entry(path, LastLink::Follow);
    if (!found && (found.error().code == EXDEV || found.error().code == ELOOP))
        return std::nullopt;
    return local;
}

std::optional<std::string> WHLocalFilesystem::filesystemPathForURL(const WHFilesystemURL& url)
{
    if (!url.fullPath())
        return std::nullopt;
    return filesystemPathForFullPath(*url.fullPath());
}

std::optional<std::string> WHLocalFilesystem::fullPathForFileSystemPath(const std::string& localPath) const
{
    if (m_fsRoot.empty() || localPath.compare(0, m_fsRoot.size(), m_fsRoot) != 0)
        return std::nullopt;
    // "/data/t" owns "/data/t" and "/data/t/...", never "/data/tx/...".
    if (localPath.size() > m_fsRoot.size() && m_fsRoot.back() != '/' && localPath[m_fsRoot.size()] != '/')
        return std::nullopt;
    std::string rest = localPath.substr(m_fsRoot.size());
    if (hasDotDotComponent(rest))
        return std::nullopt;
    return rest;
}

std::optional<WHFilesystemURL> WHLocalFilesystem::URLforFullPath(const std::optional<std::string>& fullPath) const
{
    if (!fullPath)
        return std::nullopt;
    std::string escaped = WHURL::percentEscape(*fullPath, WHURL::EscapeSet::Path);
    std::string string = !fullPath->empty() && fullPath->front() == '/'
        ? format("%@://localhost/%@%@", "whfile", m_name, escaped)
        : format("%@://localhost/%@/%@", "whfile", m_name, escaped);
    return WHFilesystemURL::fileSystemURLWithString(string);
}

std::optional<WHFilesystemURL> WHLocalFilesystem::URLforFilesystemPath(const std::string& localPath)
{
    auto fullPath = fullPathForFileSystemPath(localPath);
    if (!fullPath)
        return std::nullopt;
    return URLforFullPath(fullPath);
}

std::string WHLocalFilesystem::normalizePath(const std::string& path)
{
    bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string> components;
    size_t i = absolute ? 1 : 0;
    while (i < path.size()) {
        size_t next = path.find('/', i);
        if (next == std::string::npos)
            next = path.size();
        if (next > i)
            components.push_back(path.substr(i, next - i));
        i = next + 1;
    }
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

bool WHLocalFilesystem::valueForKeyIsNumber(const Value& dictionary, const std::string& key)
{
    if (!dictionary.is_object())
        return false;
    auto it = dictionary.find(key);
    return it != dictionary.end() && (it->is_number() || it->is_boolean());
}

// MARK: Entries and lookups

ValueObject WHLocalFilesystem::makeEntry(const std::string& fullPath, EntryKind kind, OnDisk onDisk,
    const std::optional<std::string>& reachedLocal) const
{
    bool isDirectory = kind == EntryKind::Directory;
    std::string path = fullPath;
    if (isDirectory && (path.empty() || path.back() != '/'))
        path += '/';

    std::string nativeURL;
    if (auto local = reachedLocal ? reachedLocal : filesystemPathForFullPath(path)) {
        bool existingDirectory = onDisk == OnDisk::Directory || (onDisk == OnDisk::Unknown && probePath(path).isDirectory);
        nativeURL = WHURL::fileURLStringWithPath(*local, existingDirectory ? WHURL::Directory::Yes : WHURL::Directory::No);
        if (m_urlTransformer)
            nativeURL = m_urlTransformer(nativeURL);
    }

    ValueObject entry;
    entry["isFile"] = !isDirectory;
    entry["isDirectory"] = isDirectory;
    entry["name"] = lastPathComponent(stripQueryParametersFromPath(fullPath));
    entry["fullPath"] = std::move(path);
    entry["filesystemName"] = m_name;
    entry["nativeURL"] = std::move(nativeURL);
    return entry;
}

ValueObject WHLocalFilesystem::makeEntryForPath(const std::string& fullPath, EntryKind kind)
{
    return makeEntry(fullPath, kind, OnDisk::Unknown);
}

std::optional<ValueObject> WHLocalFilesystem::makeEntryForLocalURL(const WHFilesystemURL& url)
{
    auto local = filesystemPathForURL(url);
    if (!local)
        return std::nullopt;
    auto info = probePath(*url.fullPath());
    if (!info.exists)
        return std::nullopt;
    return makeEntry(*url.fullPath(), info.isDirectory ? EntryKind::Directory : EntryKind::File,
        info.isDirectory ? OnDisk::Directory : OnDisk::NotDirectory);
}

WHPluginResult WHLocalFilesystem::entryForLocalURI(const WHFilesystemURL& url)
{
    if (auto entry = makeEntryForLocalURL(url))
        return WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(*entry));
    return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
}

WHPluginResult WHLocalFilesystem::getFileForURL(const WHFilesystemURL& directoryURL,
    const std::optional<std::string>& requestedPath, const Value& options)
{
    bool create = boolOption(options, "create");
    bool exclusive = boolOption(options, "exclusive");
    bool getDir = boolOption(options, "getDir");

    if (!requestedPath || requestedPath->find(':') != std::string::npos || hasNul(*requestedPath))
        return fileError(CommandStatus::IOException, FileError::ENCODING_ERR);
    if (!filesystemPathForURL(directoryURL))
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);

    // ".." in the requested path is resolved here, never above the root of the file system.
    std::string path = normalizePath(appendPathComponent(*directoryURL.fullPath(), *requestedPath));
    auto url = URLforFullPath(path);
    if (!url || !url->fullPath())
        return fileError(CommandStatus::IOException, FileError::ENCODING_ERR);
    auto local = filesystemPathForURL(*url);
    if (!local)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);

    auto found = locate(*url, LastLink::Follow);
    // A missing parent: nothing exists, and nothing can be made there.
    bool noParent = !found && (found.error().code == ENOENT || found.error().code == ENOTDIR);
    if (!found && !noParent)
        return fileError(CommandStatus::IOException, resolutionError(found.error()));
    auto info = found ? disk::probeAt(found->folder.get(), found->name) : disk::PathInfo {};
    if (!create && info.exists && info.isDirectory != getDir)
        return fileError(CommandStatus::IOException, FileError::TYPE_MISMATCH_ERR);
    if (!create && !info.exists)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    if (exclusive && create && info.exists)
        return fileError(CommandStatus::IOException, FileError::PATH_EXISTS_ERR);
    if (create && !info.exists) {
        if (getDir) {
            if (noParent || mkdirat(found->folder.get(), found->name.c_str(), 0777) != 0) {
                log::message(format("error creating directory: %@", g_strerror(noParent ? found.error().code : errno)));
                return fileError(CommandStatus::IOException, FileError::ABORT_ERR);
            }
        } else {
            // No O_TRUNC: a file that appeared since the check above keeps its contents.
            FileDescriptor fd(noParent ? -1 : openat(found->folder.get(), found->name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666));
            if (!fd)
                return fileError(CommandStatus::IOException, FileError::ABORT_ERR);
        }
    }
    return WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK,
        makeEntryForPath(*url->fullPath(), getDir ? EntryKind::Directory : EntryKind::File));
}

WHPluginResult WHLocalFilesystem::getParentForURL(const WHFilesystemURL& url)
{
    if (!filesystemPathForURL(url))
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    WHFilesystemURL parent = url.fullPath()->empty()
        ? url
        : WHFilesystemURL::fileSystemURLWithURL(url.url()->URLByDeletingLastPathComponent());
    auto local = filesystemPathForURL(parent);
    if (!local)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    auto info = probePath(*parent.fullPath());
    if (!info.exists)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    return WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK,
        makeEntry(*parent.fullPath(), info.isDirectory ? EntryKind::Directory : EntryKind::File,
            info.isDirectory ? OnDisk::Directory : OnDisk::NotDirectory));
}

// MARK: File operations

WHPluginResult WHLocalFilesystem::setMetadataForURL(const WHFilesystemURL&, const Value&)
{
    return WHPluginResult::resultWithStatus(CommandStatus::Error);
}

WHPluginResult WHLocalFilesystem::doRemove(const std::string& localPath)
{
    auto path = fullPathForFileSystemPath(localPath);
    auto found = path ? locatePath(*path, LastLink::Keep) : Result<BeneathResolver::Entry>(Error { ENOENT, "outside the file system" });
    if (!found)
        return fileError(CommandStatus::IOException, resolutionError(found.error()));
    // "/", "/." and the like all name the root, which must survive any removal.
    if (found->name == "." || sameItem(statAt(found->folder.get(), found->name), statAt(rootFolder(), ".")))
        return fileError(CommandStatus::IOException, FileError::NO_MODIFICATION_ALLOWED_ERR);
    try {
        auto removed = disk::removeTree(found->folder.get(), found->name);
        if (removed)
            return WHPluginResult::resultWithStatus(CommandStatus::OK);
        log::message(format("error removing filesystem entry at %@: %@", localPath, removed.error().message));
        return fileError(CommandStatus::IOException,
            fileErrorFromErrno(removed.error().code, FileAccess::Changing, FileError::ABORT_ERR));
    } catch (const std::exception&) {
        return fileError(CommandStatus::Error, FileError::SYNTAX_ERR);
    }
}

WHPluginResult WHLocalFilesystem::removeFileAtURL(const WHFilesystemURL& url)
{
    auto local = filesystemPathForURL(url);
    if (!local)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    auto found = locate(url, LastLink::Keep);
    if (!found)
        return fileError(CommandStatus::IOException, resolutionError(found.error()));
    auto info = disk::probeAt(found->folder.get(), found->name);
    if (!info.exists)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    if (info.isDirectory && disk::directoryHasEntries(found->folder.get(), found->name))
        return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
    return doRemove(*local);
}

WHPluginResult WHLocalFilesystem::recursiveRemoveFileAtURL(const WHFilesystemURL& url)
{
    auto local = filesystemPathForURL(url);
    if (!local)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    return doRemove(*local);
}

WHPluginResult WHLocalFilesystem::readEntriesAtURL(const WHFilesystemURL& url)
{
    auto local = filesystemPathForURL(url);
    if (!local)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    auto directory = m_resolver->open(stripQueryParametersFromPath(*url.fullPath()), O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    auto names = directory ? disk::listDirectory(directory->get()) : Result<std::vector<disk::DirectoryName>>(directory.error());
    if (!names)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    ValueArray entries;
    entries.reserve(names->size());
    for (auto& child : *names) {
        std::optional<std::string> childPath = joinLocalPath(*local, child.name);
        auto fullPath = fullPathForFileSystemPath(*childPath);
        if (!fullPath)
            continue;
        bool isDirectory = child.kind == disk::DirectoryName::Kind::Directory;
        if (child.kind == disk::DirectoryName::Kind::Unknown) {
            // A link that leads out of the reachable roots is not there for the page.
            auto found = m_resolver->entry(*fullPath, LastLink::Follow);
            if (!found && (found.error().code == EXDEV || found.error().code == ELOOP))
                continue;
            isDirectory = found && disk::probeAt(found->folder.get(), found->name).isDirectory;
        }
        // Anything but a link lies where the folder, resolved beneath the roots, does: each of a
        // big folder's items is not resolved again from the root.
        entries.emplace_back(makeEntry(*fullPath, isDirectory ? EntryKind::Directory : EntryKind::File,
            isDirectory ? OnDisk::Directory : OnDisk::NotDirectory,
            child.kind == disk::DirectoryName::Kind::Unknown ? std::nullopt : std::move(childPath)));
    }
    return WHPluginResult::resultWithStatusMessageAsArray(CommandStatus::OK, std::move(entries));
}

Result<std::uint64_t> WHLocalFilesystem::truncateFile(const std::string& localPath, std::uint64_t position) const
{
    auto path = fullPathForFileSystemPath(localPath);
    if (!path)
        return Error { ENOENT, "outside the file system" };
    auto fd = openBeneath(*path, O_WRONLY | O_NONBLOCK);
    if (!fd)
        return asMissing(fd.error());
    return disk::truncateTo(fd->get(), position);
}

WHPluginResult WHLocalFilesystem::truncateFileAtURL(const WHFilesystemURL& url, std::uint64_t position)
{
    auto local = filesystemPathForURL(url);
    if (!local)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    auto length = truncateFile(*local, position);
    if (!length)
        return fileError(CommandStatus::IOException,
            fileFailure("truncating", *local, length.error(), FileAccess::Changing, FileError::INVALID_MODIFICATION_ERR));
    return WHPluginResult(static_cast<std::int32_t>(CommandStatus::OK), Value(*length));
}

WHPluginResult WHLocalFilesystem::write(const WHFilesystemURL& url, const Bytes& data, std::optional<std::uint64_t> keep)
{
    auto local = filesystemPathForURL(url);
    if (!local)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    auto found = locate(url, LastLink::Follow);
    if (!found)
        return fileError(CommandStatus::IOException, resolutionError(found.error()));
    auto written = disk::writeAt(found->folder.get(), found->name, keep, data);
    if (!written)
        return fileError(CommandStatus::IOException,
            fileFailure("writing", *local, written.error(), FileAccess::Changing, FileError::INVALID_MODIFICATION_ERR));
    if (data.size() <= static_cast<size_t>(INT32_MAX))
        return WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, static_cast<std::int32_t>(data.size()));
    return WHPluginResult(static_cast<std::int32_t>(CommandStatus::OK), Value(static_cast<std::uint64_t>(data.size())));
}

WHPluginResult WHLocalFilesystem::writeAtPosition(const WHFilesystemURL& url, const Bytes& data, std::uint64_t position)
{
    // Nothing to write into a missing file creates nothing; an existing one is cut at the position.
    if (data.empty()) {
        auto local = filesystemPathForURL(url);
        if (local && !probePath(*url.fullPath()).exists)
            return WHPluginResult::resultWithStatusMessageAsDouble(CommandStatus::OK, 0);
    }
    return write(url, data, position);
}

bool WHLocalFilesystem::canCopyMoveSrc(const std::string& source, const std::string& destination)
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

void WHLocalFilesystem::copyFileToURL(const WHFilesystemURL& destinationDirectory, const std::string& newName,
    WHFileSystem& sourceFileSystem, const WHFilesystemURL& sourceURL, TransferMode mode, ResultCallback callback)
{
    // A name is one or more components below the destination directory; ".." would climb out of it.
    if (hasDotDotComponent(newName) || hasNul(newName)) {
        callback(fileError(CommandStatus::IOException, FileError::ENCODING_ERR));
        return;
    }
    auto directory = filesystemPathForURL(destinationDirectory);
    if (!directory || !probePath(*destinationDirectory.fullPath()).exists) {
        callback(fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
        return;
    }

    auto* localSource = dynamic_cast<WHLocalFilesystem*>(&sourceFileSystem);
    if (!localSource) {
        std::string newPath = joinLocalPath(*directory, newName);
        auto newFullPath = fullPathForFileSystemPath(newPath);
        if (!newFullPath) {
            callback(fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
            return;
        }
        // Made now so that the completion, which may run later on another thread, needs nothing of this object.
        ValueObject entry = makeEntry(*newFullPath, EntryKind::File, OnDisk::NotDirectory);
        auto found = locatePath(*newFullPath, LastLink::Follow);
        if (!found) {
            callback(fileError(CommandStatus::IOException, resolutionError(found.error())));
            return;
        }
        auto destination = std::make_shared<BeneathResolver::Entry>(std::move(*found));
        // Held in memory whole: bounded like what a page read may answer.
        constexpr std::uint64_t kMaxForeignCopy = 1ull << 30;
        sourceFileSystem.readFileAtURL(sourceURL, 0, -1, kMaxForeignCopy,
            [destination, entry = std::move(entry), callback = std::move(callback)](std::optional<Bytes> bytes, std::string, FileError error) mutable {
                if (!bytes) {
                    callback(fileError(CommandStatus::IOException, error));
                    return;
                }
                if (!disk::writeAtomically(destination->folder.get(), destination->name, *bytes)) {
                    callback(fileError(CommandStatus::IOException, FileError::ABORT_ERR));
                    return;
                }
                callback(WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(entry)));
            });
        return;
    }

    auto sourcePath = localSource->filesystemPathForURL(sourceURL);
    if (!sourcePath) {
        callback(fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
        return;
    }
    callback(copyOrMove(*directory, newName, *sourcePath, *localSource, mode));
}

WHPluginResult WHLocalFilesystem::copyOrMove(const std::string& directory, const std::string& newName,
    const std::string& sourcePath, const WHLocalFilesystem& sourceFileSystem, TransferMode mode)
{
    std::string newPath = joinLocalPath(directory, newName);
    auto newFullPath = fullPathForFileSystemPath(newPath);
    auto sourceFullPath = sourceFileSystem.fullPathForFileSystemPath(sourcePath);
    if (!newFullPath || !sourceFullPath)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    // Both items as folder and name, the links in their paths followed beneath the roots (the new
    // name may hold components; a link among them must not lead out either). The items
    // themselves are taken as they are: a link is copied or moved as a link.
    auto to = locatePath(*newFullPath, LastLink::Keep);
    auto from = sourceFileSystem.locatePath(*sourceFullPath, LastLink::Keep);
    // A new name below a folder that does not exist fails as the copy itself would.
    if (!to && (to.error().code == ENOENT || to.error().code == ENOTDIR))
        return fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR);
    if (!to)
        return fileError(CommandStatus::IOException, resolutionError(to.error()));
    if (!from)
        return fileError(CommandStatus::IOException, resolutionError(from.error()));
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
    std::string copyPath = stripQueryParametersFromPath(*newFullPath);
    auto keepLink = [this, &copyPath](const std::string& below) {
        std::string path = below.empty() ? copyPath : copyPath + "/" + below;
        auto found = m_resolver->entry(path, LastLink::Follow);
        if (found || (found.error().code != EXDEV && found.error().code != ELOOP))
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
        if (from->name == "." || sameItem(sourceStat, statAt(sourceFileSystem.rootFolder(), ".")))
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
        makeEntryForPath(*newFullPath, sourceIsDirectory ? EntryKind::Directory : EntryKind::File));
}

std::optional<std::string> WHLocalFilesystem::getMimeTypeFromPath(const std::optional<std::string>& path)
{
    if (!path)
        return std::nullopt;
    std::string name = lastPathComponent(*path);
    size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);

    // The registry is asked about the extension alone, so whole-name patterns ("Makefile") don't count.
    std::string contentType;
    if (!extension.empty()) {
        std::string probeName = "x." + extension;
        GUnique<char> guessed(g_content_type_guess(probeName.c_str(), nullptr, 0, nullptr));
        if (guessed && !g_content_type_is_unknown(guessed.get())) {
            contentType = guessed.get();
            GUnique<char> mime(g_content_type_get_mime_type(guessed.get()));
            if (mime)
                return std::string(mime.get());
        }
    }
    if (contentType.find("m4a") != std::string::npos)
        return std::string("audio/mp4");
    if (extension.find("wav") != std::string::npos)
        return std::string("audio/wav");
    if (extension.find("css") != std::string::npos)
        return std::string("text/css");
    return std::nullopt;
}

void WHLocalFilesystem::readFileAtURL(const WHFilesystemURL& url, std::int64_t start, std::int64_t end, std::uint64_t maxBytes,
    ReadCallback callback)
{
    auto local = filesystemPathForURL(url);
    std::string mimeType = getMimeTypeFromPath(local).value_or("*/*");
    if (!local) {
        callback(std::nullopt, std::move(mimeType), FileError::NOT_FOUND_ERR);
        return;
    }
    // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused by the read anyway.
    auto fd = m_resolver->open(stripQueryParametersFromPath(*url.fullPath()), O_RDONLY | O_NONBLOCK);
    auto bytes = fd ? disk::readRange(fd->get(), start, end, maxBytes) : Result<Bytes>(asMissing(fd.error()));
    if (!bytes) {
        callback(std::nullopt, std::move(mimeType),
            fileFailure("reading", *local, bytes.error(), FileAccess::Reading, FileError::NOT_READABLE_ERR));
        return;
    }
    callback(std::move(*bytes), std::move(mimeType), FileError::NoError);
}

void WHLocalFilesystem::getFileMetadataForURL(const WHFilesystemURL& url, ResultCallback callback)
{
    // Resolved once, by the look-up below (a link on the way out of the roots fails there as a
    // missing item); only a link as the last part is followed once more, to see where it leads.
    auto local = url.fullPath() ? lexicalLocalPath(stripQueryParametersFromPath(*url.fullPath())) : std::nullopt;
    if (!local) {
        callback(fileError(CommandStatus::Error, FileError::NOT_FOUND_ERR));
        return;
    }
    auto found = locate(url, LastLink::Keep);
    struct stat st;
    bool stated = found && fstatat(found->folder.get(), found->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    int err = !found ? found.error().code : stated ? 0 : errno;
    if (stated && S_ISLNK(st.st_mode)) {
        auto target = locate(url, LastLink::Follow);
        if (!target && (target.error().code == EXDEV || target.error().code == ELOOP)) {
            callback(fileError(CommandStatus::Error, FileError::NOT_FOUND_ERR));
            return;
        }
    }
    if (!stated) {
        if (err == EXDEV || err == ELOOP)
            err = ENOENT;
        log::message(format("error getting metadata: %@", g_strerror(err)));
        callback(fileError(CommandStatus::Error, fileErrorFromErrno(err, FileAccess::Reading, FileError::ABORT_ERR)));
        return;
    }
    ValueObject metadata;
    metadata["fullPath"] = *url.fullPath();
    metadata["type"] = "";
    metadata["name"] = lastPathComponent(*local);
    metadata["size"] = static_cast<std::uint64_t>(S_ISREG(st.st_mode) ? st.st_size : 0);
    metadata["lastModifiedDate"] = static_cast<double>(st.st_mtim.tv_sec) * 1000.0 + static_cast<double>(st.st_mtim.tv_nsec) / 1e6;
    callback(WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(metadata)));
}

} // namespace penwick
