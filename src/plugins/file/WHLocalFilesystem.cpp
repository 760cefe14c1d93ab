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
#include "plugins/file/EntryListing.h"
#include "plugins/file/LocalDisk.h"
#include "plugins/file/LocalTransfer.h"

namespace penwick {
namespace {

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

} // namespace

WHLocalFilesystem::WHLocalFilesystem(std::string name, std::string root)
    : m_name(std::move(name))
    , m_root(std::move(root))
{
}

Result<BeneathResolver::Entry> WHLocalFilesystem::locate(const WHFilesystemURL& url, LastLink last) const
{
    if (!url.fullPath())
        return Error { ENOENT, "no such item in the file system" };
    return m_root.locate(LocalRoot::stripQuery(*url.fullPath()), last);
}

// MARK: Paths and URLs

std::optional<std::string> WHLocalFilesystem::filesystemPathForURL(const WHFilesystemURL& url)
{
    if (!url.fullPath())
        return std::nullopt;
    return filesystemPathForFullPath(*url.fullPath());
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
    entry["name"] = LocalRoot::lastComponent(LocalRoot::stripQuery(fullPath));
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

    if (!requestedPath || requestedPath->find(':') != std::string::npos || LocalRoot::hasNul(*requestedPath))
        return fileError(CommandStatus::IOException, FileError::ENCODING_ERR);
    if (!filesystemPathForURL(directoryURL))
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);

    // ".." in the requested path is resolved here, never above the root of the file system.
    std::string path = LocalRoot::normalize(LocalRoot::append(*directoryURL.fullPath(), *requestedPath));
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
        return fileError(CommandStatus::IOException, LocalRoot::resolutionError(found.error()));
    auto info = found ? disk::probeAt(found->folder.get(), found->name) : disk::PathInfo {};
    if (!create && !info.exists)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    if (exclusive && create && info.exists)
        return fileError(CommandStatus::IOException, FileError::PATH_EXISTS_ERR);
    // With or without create: an entry never calls a folder a file, or a file a folder.
    if (info.exists && info.isDirectory != getDir)
        return fileError(CommandStatus::IOException, FileError::TYPE_MISMATCH_ERR);
    if (create && !info.exists) {
        if (getDir) {
            if (noParent || mkdirat(found->folder.get(), found->name.c_str(), 0777) != 0) {
                log::message(format("error creating directory: %@", g_strerror(noParent ? found.error().code : errno)));
                return fileError(CommandStatus::IOException, FileError::ABORT_ERR);
            }
        } else {
            // No O_TRUNC: a file that appeared since the check above keeps its contents.
            FileDescriptor fd(noParent ? -1 : openat(found->folder.get(), found->name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666));
            if (!fd) {
                // The code alone does not say why (a read-only disk, a name too long).
                log::message(format("error creating file: %@", g_strerror(noParent ? found.error().code : errno)));
                return fileError(CommandStatus::IOException, FileError::ABORT_ERR);
            }
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
    auto found = path ? m_root.locate(*path, LastLink::Keep) : Result<BeneathResolver::Entry>(Error { ENOENT, "outside the file system" });
    if (!found)
        return fileError(CommandStatus::IOException, LocalRoot::resolutionError(found.error()));
    // "/", "/." and the like all name the root, which must survive any removal.
    if (m_root.isRoot(*found))
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
        return fileError(CommandStatus::IOException, LocalRoot::resolutionError(found.error()));
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

WHPluginResult WHLocalFilesystem::readEntriesAtURL(const WHFilesystemURL& url, EntriesForm form)
{
    auto local = filesystemPathForURL(url);
    if (!local)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);
    auto directory = m_root.openFound(LocalRoot::stripQuery(*url.fullPath()), O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    auto names = directory ? disk::listDirectory(directory->get()) : Result<std::vector<disk::DirectoryName>>(directory.error());
    if (!names)
        return fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR);

    std::string folderLocal = LocalRoot::join(*local, "");
    auto folderFullPath = fullPathForFileSystemPath(folderLocal);
    if (!folderFullPath)
        return WHPluginResult::resultWithStatusMessageAsJSONText(CommandStatus::OK, "[]");
    std::string folderURL = WHURL::fileURLStringWithPath(folderLocal, WHURL::Directory::Yes);
    std::string base = m_urlTransformer ? m_urlTransformer(folderURL) : folderURL;
    EntryListing listing(form, m_name, *folderFullPath, base, names->size());
    // Shared parts that are not text: the entries, each of them checked, say what is left out.
    if (!listing.sharedPartsAreText())
        listing = EntryListing(EntriesForm::Objects, m_name, *folderFullPath, base, names->size());
    std::string fullPath, nativeURL;
    size_t notText = 0, withQuery = 0;
    for (auto& child : *names) {
        // A "?" in a full path begins its query, which no operation takes for part of the name:
        // the page's calls on such an entry would reach the item named by what precedes it.
        if (child.name.find('?') != std::string::npos) {
            ++withQuery;
            continue;
        }
        fullPath.assign(*folderFullPath).append(child.name);
        bool isDirectory = child.kind == disk::DirectoryName::Kind::Directory;
        if (child.kind == disk::DirectoryName::Kind::Unknown) {
            // A link that leads out of the reachable roots is not there for the page.
            auto found = m_root.locate(fullPath, LastLink::Follow);
            if (!found && (found.error().code == EXDEV || found.error().code == ELOOP))
                continue;
            isDirectory = found && disk::probeAt(found->folder.get(), found->name).isDirectory;
            // Named by the path it stands at, with the kind of what it leads to.
            auto linkLocal = filesystemPathForFullPath(isDirectory ? fullPath + '/' : fullPath);
            nativeURL = linkLocal ? WHURL::fileURLStringWithPath(*linkLocal, isDirectory ? WHURL::Directory::Yes : WHURL::Directory::No)
                                  : std::string();
        } else {
            // Anything but a link lies where the folder, resolved beneath the roots, does: each of
            // a big folder's items is not resolved again from the root.
            nativeURL.assign(folderURL).append(WHURL::percentEscape(child.name, WHURL::EscapeSet::FilePath));
            if (isDirectory)
                nativeURL += '/';
        }
        if (m_urlTransformer && !nativeURL.empty())
            nativeURL = m_urlTransformer(nativeURL);
        if (!listing.add(child.name, isDirectory ? EntryKind::Directory : EntryKind::File, nativeURL))
            ++notText;
    }
    if (withQuery)
        log::message(format("readEntries of %@ left out %@ items whose names hold a \"?\"", *url.fullPath(), withQuery));
    // The page names items by text: one whose name is not UTF-8 cannot be given to it, and must
    // not cost it the rest of the listing.
    if (notText)
        log::message(format("readEntries of %@ left out %@ items whose names are not UTF-8 text", *url.fullPath(), notText));
    return WHPluginResult::resultWithStatusMessageAsJSONText(CommandStatus::OK, std::move(listing).finish());
}

Result<std::uint64_t> WHLocalFilesystem::truncateFile(const std::string& localPath, std::uint64_t position) const
{
    auto path = fullPathForFileSystemPath(localPath);
    if (!path)
        return Error { ENOENT, "outside the file system" };
    auto fd = openBeneath(*path, O_WRONLY | O_NONBLOCK);
    if (!fd)
        return LocalRoot::asMissing(fd.error());
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
        return fileError(CommandStatus::IOException, LocalRoot::resolutionError(found.error()));
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

void WHLocalFilesystem::copyFileToURL(const WHFilesystemURL& destinationDirectory, const std::string& newName,
    WHFileSystem& sourceFileSystem, const WHFilesystemURL& sourceURL, TransferMode mode, ResultCallback callback)
{
    // A name is one or more components below the destination directory; ".." would climb out of it.
    if (LocalRoot::hasDotDotComponent(newName) || LocalRoot::hasNul(newName)) {
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
        std::string newPath = LocalRoot::join(*directory, newName);
        auto newFullPath = fullPathForFileSystemPath(newPath);
        if (!newFullPath) {
            callback(fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
            return;
        }
        // Made now so that the completion, which may run later on another thread, needs nothing of this object.
        ValueObject entry = makeEntry(*newFullPath, EntryKind::File, OnDisk::NotDirectory);
        auto found = m_root.locate(*newFullPath, LastLink::Follow);
        if (!found) {
            callback(fileError(CommandStatus::IOException, LocalRoot::resolutionError(found.error())));
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
    callback(LocalTransfer::run(mode, m_root, *directory, newName, localSource->m_root, *sourcePath,
        [this](const std::string& fullPath, EntryKind kind) { return makeEntryForPath(fullPath, kind); }));
}

std::optional<std::string> WHLocalFilesystem::getMimeTypeFromPath(const std::optional<std::string>& path)
{
    if (!path)
        return std::nullopt;
    std::string name = LocalRoot::lastComponent(*path);
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
    auto fd = m_root.openFound(LocalRoot::stripQuery(*url.fullPath()), O_RDONLY | O_NONBLOCK);
    auto bytes = fd ? disk::readRange(fd->get(), start, end, maxBytes) : Result<Bytes>(LocalRoot::asMissing(fd.error()));
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
    auto local = url.fullPath() ? m_root.lexicalLocalPath(LocalRoot::stripQuery(*url.fullPath())) : std::nullopt;
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
    metadata["name"] = LocalRoot::lastComponent(*local);
    metadata["size"] = static_cast<std::uint64_t>(S_ISREG(st.st_mode) ? st.st_size : 0);
    metadata["lastModifiedDate"] = static_cast<double>(st.st_mtim.tv_sec) * 1000.0 + static_cast<double>(st.st_mtim.tv_nsec) / 1e6;
    callback(WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(metadata)));
}

} // namespace penwick
