#include "plugins/file/WHFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <sys/stat.h>

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "base/Utf8.h"
#include "bridge/WHBase64.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "channel/ChannelProtocol.h"
#include "plugins/file/LocalDisk.h"
#include "plugins/file/WHFilePluginSlot.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick {
namespace {

// The most an answer to the page carries: what one page-channel frame takes, less room for the
// frame's head.
constexpr std::uint64_t kMaxAnswerBytes = channel::kMaxPayload - 64 * 1024;

// What the answers to one view's reads may hold in the host at once. Reads beyond it wait.
constexpr std::uint64_t kReadBudgetBytes = 512ull * 1024 * 1024;

// The bytes a read of `target` takes, from the file as it is now (the read checks again), never
// more than `maxBytes`; `maxBytes` when the file system has no local path to look at.
std::uint64_t expectedReadBytes(WHFileSystem& fileSystem, const WHFilesystemURL& url, std::int64_t start, std::int64_t end,
    std::uint64_t maxBytes)
{
    auto path = fileSystem.filesystemPathForURL(url);
    if (!path)
        return maxBytes;
    struct stat st {};
    if (::stat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0; // the read fails
    auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t offset = static_cast<std::uint64_t>(std::max<std::int64_t>(start, 0));
    std::uint64_t count = offset < size ? size - offset : 0;
    if (end >= 0)
        count = std::min<std::uint64_t>(count, end > start ? static_cast<std::uint64_t>(end - start) : 0);
    return std::min(count, maxBytes);
}

WHPluginResult fileError(CommandStatus status, FileError error)
{
    return WHPluginResult::resultWithStatusMessageAsInt(status, fileErrorCode(error));
}

// A number argument the way the page's numbers arrive: integers, doubles (cut toward zero and held
// inside the 64-bit range), booleans and numeric strings; anything else, or nothing, is 0.
std::int64_t numberArgument(const WHInvokedUrlCommand& command, size_t index)
{
    const Value* value = command.argumentAtIndex(index);
    if (!value)
        return 0;
    if (value->is_number_unsigned())
        return static_cast<std::int64_t>(std::min<std::uint64_t>(value->get<std::uint64_t>(), INT64_MAX));
    if (value->is_number_integer())
        return value->get<std::int64_t>();
    if (value->is_number_float()) {
        double d = value->get<double>();
        if (std::isnan(d))
            return 0;
        if (d >= 9.2e18)
            return INT64_MAX;
        if (d <= -9.2e18)
            return INT64_MIN;
        return static_cast<std::int64_t>(d);
    }
    if (value->is_boolean())
        return value->get<bool>() ? 1 : 0;
    if (value->is_string())
        return std::strtoll(value->get_ref<const std::string&>().c_str(), nullptr, 10);
    return 0;
}

// Lexically normal, without a trailing "/" (the root stays "/").
std::string standardizePath(const std::string& path)
{
    if (path.empty())
        return path;
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// Symbolic links resolved as far as the path exists; the rest is kept as written.
std::string resolveSymlinks(const std::string& path)
{
    std::error_code error;
    std::filesystem::path p(path);
    auto resolved = std::filesystem::weakly_canonical(p, error);
    return error ? standardizePath(path) : standardizePath(resolved.string());
}

// Each byte as the character of the same code, as a browser's binary string has it.
std::string latin1ToUtf8(const Bytes& bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (std::uint8_t b : bytes) {
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

bool isValidUtf8(const Bytes& bytes)
{
    std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    while (!view.empty()) {
        size_t length = utf8SequenceLength(view);
        if (!length)
            return false;
        view.remove_prefix(length);
    }
    return true;
}

std::string lastComponent(const WHFilesystemURL& url)
{
    if (!url.url())
        return {};
    auto components = url.url()->pathComponents();
    return components.empty() ? std::string() : components.back();
}

} // namespace

struct WHFile::ChangeQueue {
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    bool running = false;

    // Runs the waiting changes one after another until none is left. Holds the queue, never the
    // plugin, so it may outlive both.
    static void drain(const std::shared_ptr<ChangeQueue>& queue)
    {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(queue->mutex);
                if (queue->tasks.empty()) {
                    queue->running = false;
                    return;
                }
                task = std::move(queue->tasks.front());
                queue->tasks.pop_front();
            }
            task();
        }
    }
};

WHFile::WHFile(const WHPluginContext& context)
    : WHPlugin(context)
    , m_changes(std::make_shared<ChangeQueue>())
    , m_readBudget(ReadBudget::create(kReadBudgetBytes))
{
}

const std::string& WHFile::className() const
{
    static const std::string s_name = "WHFile";
    return s_name;
}

const WHPlugin::ActionTable& WHFile::actions() const
{
    static const ActionTable s_actions = ActionTable()
                                             .add("requestFileSystem:", &WHFile::requestFileSystem)
                                             .add("requestAllFileSystems:", &WHFile::requestAllFileSystems)
                                             .add("requestAllPaths:", &WHFile::requestAllPaths)
                                             .add("resolveLocalFileSystemURI:", &WHFile::resolveLocalFileSystemURI)
                                             .add("_getLocalFilesystemPath:", &WHFile::getLocalFilesystemPath)
                                             .add("getFile:", &WHFile::getFile)
                                             .add("getDirectory:", &WHFile::getDirectory)
                                             .add("getParent:", &WHFile::getParent)
                                             .add("setMetadata:", &WHFile::setMetadata)
                                             .add("remove:", &WHFile::remove)
                                             .add("removeRecursively:", &WHFile::removeRecursively)
                                             .add("copyTo:", &WHFile::copyTo)
                                             .add("moveTo:", &WHFile::moveTo)
                                             .add("getFileMetadata:", &WHFile::getFileMetadata)
                                             .add("readEntries:", &WHFile::readEntries)
                                             .add("readAsText:", &WHFile::readAsText)
                                             .add("readAsDataURL:", &WHFile::readAsDataURL)
                                             .add("readAsArrayBuffer:", &WHFile::readAsArrayBuffer)
                                             .add("readAsBinaryString:", &WHFile::readAsBinaryString)
                                             .add("write:", &WHFile::write)
                                             .add("truncate:", &WHFile::truncate)
                                             .add("testFileExists:", &WHFile::testFileExists)
                                             .add("testDirectoryExists:", &WHFile::testDirectoryExists)
                                             .add("getFreeDiskSpace:", &WHFile::getFreeDiskSpace);
    return s_actions;
}

// ---- start-up and registry ------------------------------------------------------------------

void WHFile::pluginInitialize()
{
    auto& environment = context().environment();
    m_fileSystems.clear();

    m_appTempPath = standardizePath(environment.temporaryDirectory());
    registerFilesystem(std::make_shared<WHLocalFilesystem>("temporary", m_appTempPath));
    m_appSupportPath = getSupportDirectory(environment.applicationSupportDirectory(), {}).value_or("");
    m_appDataPath = getSupportDirectory(environment.applicationSupportDirectory(), { "files" }).value_or("");
    registerFilesystem(std::make_shared<WHLocalFilesystem>("persistent", m_appDataPath));
    m_appDocsPath = standardizePath(environment.documentsDirectory());
    m_appCachePath = getSupportDirectory(environment.cachesDirectory(), {}).value_or("");
    registerExtraFileSystems(getExtraFileSystemsPreference(), getAvailableFileSystems());

    // Links may lead from one file system into another, never out of them all.
    std::vector<std::string> roots;
    for (const auto& fileSystem : m_fileSystems)
        if (auto* local = dynamic_cast<const WHLocalFilesystem*>(fileSystem.get()))
            roots.push_back(local->fsRoot());
    for (const auto& fileSystem : m_fileSystems)
        if (auto* local = dynamic_cast<WHLocalFilesystem*>(fileSystem.get()))
            local->setReachableRoots(roots);

    // Published last, so that other threads never see a registry being filled.
    if (auto* slot = context().service<WHFilePluginSlot>())
        slot->publish(this);
}

std::vector<std::string> WHFile::servedFolders() const
{
    // The whole disk is no folder to hand the web process; the sandbox keeps it out.
    std::vector<std::string> folders;
    for (const auto& fileSystem : m_fileSystems)
        if (auto* local = dynamic_cast<const WHLocalFilesystem*>(fileSystem.get()); local && !local->fsRoot().empty() && local->fsRoot() != "/")
            folders.push_back(local->fsRoot());
    return folders;
}

std::optional<std::string> WHFile::getSupportDirectory(Result<std::string> base, const std::vector<std::string>& components)
{
    if (!base) {
        log::message(format("unable to get support directory: %@", base.error().message));
        return std::nullopt;
    }
    std::string path = *base + "/" + context().environment().bundleIdentifier();
    for (const auto& component : components)
        path += "/" + component;
    if (!disk::probe(path).exists) {
        std::error_code error;
        std::filesystem::create_directories(path, error);
        if (error) {
            log::message(format("unable to create support directory: %@", path + ": " + error.message()));
            return std::nullopt;
        }
    }
    return path;
}

std::vector<std::string> WHFile::getExtraFileSystemsPreference() const
{
    std::string setting = "documents,cache,bundle,root";
    const auto& settings = context().settings();
    if (auto it = settings.find("osxextrafilesystems"); it != settings.end())
        setting = asciiLowercase(it->second);
    // An empty value names no file system: it is how a config asks for none, not an unknown name.
    std::vector<std::string> names;
    if (setting.empty())
        return names;
    size_t start = 0;
    while (true) {
        size_t comma = setting.find(',', start);
        names.push_back(setting.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return names;
}

std::map<std::string, std::string> WHFile::getAvailableFileSystems() const
{
    return {
        { "documents", m_appDocsPath },
        { "cache", m_appCachePath },
        { "bundle", context().environment().resourcePath() },
        { "root", "/" },
    };
}

void WHFile::registerExtraFileSystems(const std::vector<std::string>& names, const std::map<std::string, std::string>& available)
{
    // Each unknown name is logged once, and a long list of them in a few lines.
    constexpr size_t kUnknownNamesLogged = 10;
    std::set<std::string> installed, unknown;
    for (const auto& name : names) {
        if (installed.count(name))
            continue;
        auto it = available.find(name);
        if (it == available.end()) {
            if (unknown.insert(name).second && unknown.size() <= kUnknownNamesLogged)
                log::message(format("Unrecognized extra filesystem identifier: %@", name));
            continue;
        }
        registerFilesystem(std::make_shared<WHLocalFilesystem>(name, it->second));
        installed.insert(name);
    }
    if (unknown.size() > kUnknownNamesLogged)
        log::message(format("%@ more unrecognized extra filesystem identifiers not listed", unknown.size() - kUnknownNamesLogged));
}

void WHFile::registerFilesystem(std::shared_ptr<WHFileSystem> fileSystem) { m_fileSystems.push_back(std::move(fileSystem)); }

std::shared_ptr<WHFileSystem> WHFile::fileSystemByName(const std::string& name) const
{
    for (const auto& fileSystem : m_fileSystems) {
        if (fileSystem->name() == name)
            return fileSystem;
    }
    return nullptr;
}

std::shared_ptr<WHFileSystem> WHFile::filesystemForURL(const WHFilesystemURL& url) const
{
    return url.fileSystemName() ? fileSystemByName(*url.fileSystemName()) : nullptr;
}

std::optional<WHFilesystemURL> WHFile::fileSystemURLforArg(const std::string& arg) const
{
    if (arg.rfind("file://", 0) == 0) {
        auto url = WHURL::URLWithString(arg);
        if (!url || !url->path())
            return std::nullopt;
        return fileSystemURLforLocalPath(resolveSymlinks(*url->path()));
    }
    return WHFilesystemURL::fileSystemURLWithString(arg);
}

std::optional<WHFilesystemURL> WHFile::fileSystemURLforLocalPath(const std::string& localPath) const
{
    std::optional<WHFilesystemURL> best;
    for (const auto& fileSystem : m_fileSystems) {
        auto url = fileSystem->URLforFilesystemPath(localPath);
        if (!url)
            continue;
        if (!best || url->fullPath().value_or("").size() < best->fullPath().value_or("").size())
            best = std::move(url);
    }
    return best;
}

std::optional<std::string> WHFile::filesystemPathForURL(const WHFilesystemURL& url) const
{
    for (const auto& fileSystem : m_fileSystems) {
        if (url.fileSystemName() && fileSystem->name() == *url.fileSystemName()) {
            if (auto path = fileSystem->filesystemPathForURL(url))
                return path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> WHFile::encodePath(const std::string& path)
{
    auto decoded = WHURL::percentDecode(path);
    if (!decoded)
        return std::nullopt;
    return WHURL::percentEscape(*decoded, WHURL::EscapeSet::Path);
}

std::optional<std::uint64_t> WHFile::checkFreeDiskSpace(const std::string& path)
{
    // A folder not made yet would live on the volume of its nearest existing parent.
    return path.empty() ? std::nullopt : disk::freeSpaceNear(path);
}

// ---- helpers of the actions -----------------------------------------------------------------

void WHFile::answer(const WHInvokedUrlCommand& command, const WHPluginResult& result)
{
    commandDelegate()->sendPluginResult(result, command.callbackId().value_or("INVALID"));
}

void WHFile::inBackground(const WHInvokedUrlCommand& command, Order order, FileError onException,
    std::function<void(const Answer&)> work)
{
    auto* delegate = commandDelegate();
    auto callbackId = command.callbackId().value_or("INVALID");
    auto sent = std::make_shared<std::atomic<bool>>(false);
    Answer answerOnce = [delegate, callbackId, sent](const WHPluginResult& result) {
        if (!sent->exchange(true))
            delegate->sendPluginResult(result, callbackId);
    };
    auto task = guardedTask(answerOnce, callbackId, onException, std::move(work));
    if (order == Order::AtOnce) {
        delegate->runInBackground(std::move(task));
        return;
    }
    {
        std::lock_guard lock(m_changes->mutex);
        m_changes->tasks.push_back(std::move(task));
        if (m_changes->running)
            return;
        m_changes->running = true;
    }
    delegate->runInBackground([changes = m_changes] { ChangeQueue::drain(changes); });
}

std::function<void()> WHFile::guardedTask(Answer answer, std::string callbackId, FileError onException,
    std::function<void(const Answer&)> work)
{
    return [answer = std::move(answer), callbackId = std::move(callbackId), onException, work = std::move(work)] {
        // Nothing a task meets (no memory, a bad path) takes the host down: the call fails.
        try {
            work(answer);
        } catch (const std::exception& e) {
            log::message(format("file work for callback %@ failed: %@", callbackId, e.what()));
            answer(fileError(CommandStatus::IOException, onException));
        } catch (...) {
            log::message(format("file work for callback %@ failed", callbackId));
            answer(fileError(CommandStatus::IOException, onException));
        }
    };
}

void WHFile::readInTurn(const WHInvokedUrlCommand& command, Target target, std::int64_t start, std::int64_t end,
    std::uint64_t maxBytes, std::function<std::uint64_t(std::uint64_t)> bytesHeld, ReadWork work)
{
    auto* delegate = commandDelegate();
    // Sized in the background (a look at the file), read once its answer fits the budget: many
    // large reads at once take their turns instead of holding the memory of all of them.
    inBackground(command, Order::AtOnce, FileError::NOT_READABLE_ERR,
        [delegate, budget = m_readBudget, callbackId = command.callbackId().value_or("INVALID"), target = std::move(target), start,
            end, maxBytes, bytesHeld = std::move(bytesHeld), work = std::move(work)](const Answer& answer) {
            auto held = bytesHeld(expectedReadBytes(*target.fileSystem, target.url, start, end, maxBytes));
            budget->admit(held, [delegate, answer, callbackId, work](ReadBudget::Lease lease) {
                delegate->runInBackground(guardedTask(answer, callbackId, FileError::NOT_READABLE_ERR,
                    [work, lease = std::move(lease)](const Answer& answer) { work(answer, lease); }));
            });
        });
}

std::optional<WHFile::Target> WHFile::targetForString(const std::string& arg) const
{
    auto url = fileSystemURLforArg(arg);
    // A NUL ("%00") in the full path would end it early once the kernel reads it.
    if (!url || url->fullPath().value_or("").find('\0') != std::string::npos)
        return std::nullopt;
    auto fileSystem = filesystemForURL(*url);
    if (!fileSystem)
        return std::nullopt;
    return Target { std::move(*url), std::move(fileSystem) };
}

std::optional<WHFile::Target> WHFile::targetForArgument(const WHInvokedUrlCommand& command, const Value* argument)
{
    if (!argument || !argument->is_string()) {
        answer(command, fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return std::nullopt;
    }
    auto target = targetForString(argument->get<std::string>());
    if (!target)
        answer(command, fileError(CommandStatus::Error, FileError::ENCODING_ERR));
    return target;
}

namespace {
const Value* rawArgument0(const WHInvokedUrlCommand& command)
{
    return command.arguments().empty() ? nullptr : &command.arguments()[0];
}
} // namespace

// ---- file systems and paths -----------------------------------------------------------------

void WHFile::requestFileSystem(const WHInvokedUrlCommand& command)
{
    auto type = static_cast<std::int32_t>(numberArgument(command, 0));
    auto size = static_cast<std::uint64_t>(numberArgument(command, 1));
    if (type < 0 || static_cast<size_t>(type) >= m_fileSystems.size()) {
        log::message("No filesystem of type requested");
        answer(command, fileError(CommandStatus::Error, FileError::NOT_FOUND_ERR));
        return;
    }
    auto freeBytes = checkFreeDiskSpace(m_appSupportPath);
    if (freeBytes && *freeBytes < size) {
        answer(command, fileError(CommandStatus::IOException, FileError::QUOTA_EXCEEDED_ERR));
        return;
    }
    auto& fileSystem = m_fileSystems[static_cast<size_t>(type)];
    ValueObject message;
    message["name"] = fileSystem->name();
    message["root"] = fileSystem->makeEntryForPath("/", EntryKind::Directory);
    answer(command, WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(message)));
}

void WHFile::requestAllFileSystems(const WHInvokedUrlCommand& command)
{
    ValueArray roots;
    for (const auto& fileSystem : m_fileSystems)
        roots.push_back(fileSystem->makeEntryForPath("/", EntryKind::Directory));
    answer(command, WHPluginResult::resultWithStatusMessageAsArray(CommandStatus::OK, std::move(roots)));
}

void WHFile::requestAllPaths(const WHInvokedUrlCommand& command)
{
    auto urlOf = [](const std::string& path) {
        return WHURL::fileURLStringWithPath(path, disk::probe(path).isDirectory ? WHURL::Directory::Yes : WHURL::Directory::No);
    };
    ValueObject paths;
    paths["applicationDirectory"] = urlOf(context().environment().resourcePath());
    paths["applicationStorageDirectory"] = urlOf(m_appSupportPath);
    paths["dataDirectory"] = urlOf(m_appDataPath);
    paths["documentsDirectory"] = urlOf(m_appDocsPath);
    paths["cacheDirectory"] = urlOf(m_appCachePath);
    paths["tempDirectory"] = urlOf(m_appTempPath);
    paths["rootDirectory"] = "file:///";
    answer(command, WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(paths)));
}

void WHFile::resolveLocalFileSystemURI(const WHInvokedUrlCommand& command)
{
    const Value* arg = command.argumentAtIndex(0);
    if (!arg || !arg->is_string()) {
        answer(command, fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    auto encoded = encodePath(arg->get<std::string>());
    auto target = encoded ? targetForString(*encoded) : std::nullopt;
    if (!target) {
        answer(command, fileError(CommandStatus::Error, FileError::ENCODING_ERR));
        return;
    }
    answer(command, target->fileSystem->entryForLocalURI(target->url));
}

void WHFile::getLocalFilesystemPath(const WHInvokedUrlCommand& command)
{
    const Value* arg = rawArgument0(command);
    if (!arg || !arg->is_string()) {
        answer(command, fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    auto url = fileSystemURLforArg(arg->get<std::string>());
    auto path = url ? filesystemPathForURL(*url) : std::nullopt;
    if (!path) {
        answer(command, WHPluginResult::resultWithStatus(CommandStatus::Error, "Cannot resolve URL to a file"));
        return;
    }
    answer(command, WHPluginResult::resultWithStatus(CommandStatus::OK, *path));
}

// ---- entries ----------------------------------------------------------------------------------

void WHFile::getFile(const WHInvokedUrlCommand& command)
{
    const Value* path = command.argumentAtIndex(1);
    const Value* options = command.argumentAtIndex(2);
    if ((path && !path->is_string()) || (options && !options->is_object())) {
        answer(command, fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    auto target = targetForArgument(command, command.argumentAtIndex(0));
    if (!target)
        return;
    std::optional<std::string> requestedPath;
    if (path)
        requestedPath = path->get<std::string>();
    answer(command, target->fileSystem->getFileForURL(target->url, requestedPath, options ? *options : Value()));
}

void WHFile::getDirectory(const WHInvokedUrlCommand& command)
{
    ValueArray arguments = command.arguments();
    const Value* options = arguments.size() >= 3 ? command.argumentAtIndex(2) : nullptr;
    if (options && !options->is_object()) {
        answer(command, fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    Value changed = options ? *options : Value(ValueObject());
    changed["getDir"] = 1;
    if (arguments.size() >= 3)
        arguments[2] = std::move(changed);
    else
        arguments.push_back(std::move(changed));
    getFile(WHInvokedUrlCommand(std::move(arguments), command.callbackId(), command.cmdClassName(), command.methodName()));
}

void WHFile::getParent(const WHInvokedUrlCommand& command)
{
    if (auto target = targetForArgument(command, rawArgument0(command)))
        answer(command, target->fileSystem->getParentForURL(target->url));
}

void WHFile::setMetadata(const WHInvokedUrlCommand& command)
{
    if (auto target = targetForArgument(command, rawArgument0(command)))
        answer(command, target->fileSystem->setMetadataForURL(target->url, command.argumentAtIndex(1, Value())));
}

void WHFile::readEntries(const WHInvokedUrlCommand& command)
{
    auto target = targetForArgument(command, rawArgument0(command));
    if (!target)
        return;
    // A folder of many thousand items takes a while to list; the page's other calls go on meanwhile.
    inBackground(command, Order::AtOnce, FileError::NOT_READABLE_ERR, [target = std::move(*target)](const Answer& answer) {
        answer(target.fileSystem->readEntriesAtURL(target.url));
    });
}

void WHFile::getFileMetadata(const WHInvokedUrlCommand& command)
{
    auto target = targetForArgument(command, rawArgument0(command));
    if (!target)
        return;
    auto* delegate = commandDelegate();
    auto callbackId = command.callbackId().value_or("INVALID");
    target->fileSystem->getFileMetadataForURL(target->url,
        [delegate, callbackId](WHPluginResult result) { delegate->sendPluginResult(result, callbackId); });
}

void WHFile::remove(const WHInvokedUrlCommand& command) { removeEntry(command, RemoveMode::Single); }
void WHFile::removeRecursively(const WHInvokedUrlCommand& command) { removeEntry(command, RemoveMode::Recursive); }

void WHFile::removeEntry(const WHInvokedUrlCommand& command, RemoveMode mode)
{
    auto target = targetForArgument(command, rawArgument0(command));
    if (!target)
        return;
    if (target->url.fullPath().value_or("").empty()) {
        answer(command, fileError(CommandStatus::IOException, FileError::NO_MODIFICATION_ALLOWED_ERR));
        return;
    }
    // In order with the changes before it; a big tree also takes long to remove.
    inBackground(command, Order::AfterEarlierChanges, FileError::ABORT_ERR, [mode, target = std::move(*target)](const Answer& answer) {
        answer(mode == RemoveMode::Single ? target.fileSystem->removeFileAtURL(target.url)
                                          : target.fileSystem->recursiveRemoveFileAtURL(target.url));
    });
}

void WHFile::copyTo(const WHInvokedUrlCommand& command) { transfer(command, TransferMode::Copy); }
void WHFile::moveTo(const WHInvokedUrlCommand& command) { transfer(command, TransferMode::Move); }

void WHFile::transfer(const WHInvokedUrlCommand& command, TransferMode mode)
{
    const Value* sourceArg = command.argumentAtIndex(0);
    const Value* destinationArg = command.argumentAtIndex(1);
    if (!sourceArg || !destinationArg) {
        answer(command, fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
        return;
    }
    auto source = targetForArgument(command, sourceArg);
    if (!source)
        return;
    auto destination = targetForArgument(command, destinationArg);
    if (!destination)
        return;
    std::optional<std::string> newName;
    if (command.arguments().size() > 2) {
        const Value* name = command.argumentAtIndex(2);
        if (name && !name->is_string()) {
            answer(command, fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
            return;
        }
        if (name)
            newName = name->get<std::string>();
    } else {
        newName = lastComponent(source->url);
    }
    if (!newName || newName->find(':') != std::string::npos || newName->find('\0') != std::string::npos) {
        answer(command, fileError(CommandStatus::IOException, FileError::ENCODING_ERR));
        return;
    }
    // In order with the other changes; a directory tree may also take long to copy or move.
    inBackground(command, Order::AfterEarlierChanges, FileError::INVALID_MODIFICATION_ERR,
        [mode, name = std::move(*newName), source = std::move(*source), destination = std::move(*destination)](const Answer& answer) {
            destination.fileSystem->copyFileToURL(destination.url, name, *source.fileSystem, source.url, mode, answer);
        });
}

// ---- reading, writing and queries -------------------------------------------------------------

void WHFile::readAsText(const WHInvokedUrlCommand& command)
{
    const Value* arg = rawArgument0(command);
    const Value* encoding = command.argumentAtIndex(1);
    if (!arg || !arg->is_string() || (encoding && !encoding->is_string())) {
        answer(command, fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    auto target = targetForString(arg->get<std::string>());
    if (!target) {
        answer(command, fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
        return;
    }
    // No encoding named reads as UTF-8, the one encoding there is.
    if (encoding && asciiLowercase(encoding->get<std::string>()) != "utf-8") {
        log::message("Only UTF-8 encodings are currently supported by readAsText");
        answer(command, fileError(CommandStatus::IOException, FileError::ENCODING_ERR));
        return;
    }
    auto start = numberArgument(command, 2), end = numberArgument(command, 3);
    // Held at once: the bytes, the text, its JSON and the frame written from it.
    auto held = [](std::uint64_t bytes) { return 4 * bytes; };
    readInTurn(command, *target, start, end, kMaxAnswerBytes, held, [start, end, target = *target](const Answer& answer, const ReadBudget::Lease& lease) {
        target.fileSystem->readFileAtURL(target.url, start, end, kMaxAnswerBytes,
            [answer, lease](std::optional<Bytes> bytes, std::string, FileError error) {
                if (!bytes) {
                    answer(fileError(CommandStatus::IOException, error));
                } else if (!isValidUtf8(*bytes)) {
                    answer(fileError(CommandStatus::IOException, FileError::ENCODING_ERR));
                } else {
                    auto result = WHPluginResult::resultWithStatus(CommandStatus::OK, std::string(bytes->begin(), bytes->end()));
                    bytes.reset();
                    result.setHold(lease);
                    answer(result);
                }
            });
    });
}

void WHFile::readAsDataURL(const WHInvokedUrlCommand& command) { read(command, ReadForm::DataURL); }
void WHFile::readAsArrayBuffer(const WHInvokedUrlCommand& command) { read(command, ReadForm::ArrayBuffer); }
void WHFile::readAsBinaryString(const WHInvokedUrlCommand& command) { read(command, ReadForm::BinaryString); }

void WHFile::read(const WHInvokedUrlCommand& command, ReadForm form)
{
    auto target = targetForArgument(command, rawArgument0(command));
    if (!target)
        return;
    auto start = numberArgument(command, 1), end = numberArgument(command, 2);
    // The bytes the answer's form may hold: Base64 takes 4 characters for 3 bytes, a binary
    // string up to 2 for each byte above 0x7F.
    std::uint64_t maxBytes = form == ReadForm::DataURL ? kMaxAnswerBytes / 4 * 3 - 1024
        : form == ReadForm::BinaryString              ? kMaxAnswerBytes / 2
                                                      : kMaxAnswerBytes;
    // Held at once: the bytes and the frame written from them; for text forms the bytes, the text
    // (4/3 of the bytes in Base64, up to twice them in a binary string), its JSON and the frame.
    auto held = [form](std::uint64_t bytes) -> std::uint64_t {
        switch (form) {
        case ReadForm::ArrayBuffer:
            return 2 * bytes;
        case ReadForm::DataURL:
            return bytes + 3 * (bytes / 3 * 4 + 4);
        case ReadForm::BinaryString:
            return bytes + 3 * (2 * bytes);
        }
        return bytes;
    };
    readInTurn(command, *target, start, end, maxBytes, held,
        [start, end, form, maxBytes, target = *target](const Answer& answer, const ReadBudget::Lease& lease) {
            target.fileSystem->readFileAtURL(target.url, start, end, maxBytes,
                [answer, form, lease](std::optional<Bytes> bytes, std::string mimeType, FileError error) {
                    if (!bytes) {
                        answer(fileError(CommandStatus::IOException, error));
                        return;
                    }
                    WHPluginResult result;
                    switch (form) {
                    case ReadForm::DataURL:
                        result = WHPluginResult::resultWithStatus(CommandStatus::OK,
                            "data:" + mimeType + ";base64," + WHBase64::base64EncodedString(*bytes));
                        break;
                    case ReadForm::ArrayBuffer:
                        result = WHPluginResult::resultWithStatusMessageAsArrayBuffer(CommandStatus::OK, std::move(*bytes));
                        break;
                    case ReadForm::BinaryString:
                        result = WHPluginResult::resultWithStatus(CommandStatus::OK, latin1ToUtf8(*bytes));
                        break;
                    }
                    bytes.reset();
                    result.setHold(lease);
                    answer(result);
                });
        });
}

void WHFile::write(const WHInvokedUrlCommand& command)
{
    auto target = targetForArgument(command, rawArgument0(command));
    if (!target)
        return;
    // The data is checked before anything touches the file, so a bad call loses nothing.
    const Value* data = command.argumentAtIndex(1);
    std::shared_ptr<const Bytes> bytes;
    if (data && data->is_string()) {
        const auto& text = data->get_ref<const std::string&>();
        bytes = std::make_shared<const Bytes>(text.begin(), text.end());
    } else if (data && data->is_binary()) {
        bytes = std::make_shared<const Bytes>(data->get_binary());
    } else {
        answer(command, WHPluginResult::resultWithStatus(CommandStatus::Error, "Invalid parameter type"));
        return;
    }
    // A negative position writes from the start.
    auto position = static_cast<std::uint64_t>(std::max<std::int64_t>(numberArgument(command, 2), 0));
    // Cut and written as one step: the file holds its old content or the new one, never a part.
    inBackground(command, Order::AfterEarlierChanges, FileError::INVALID_MODIFICATION_ERR,
        [position, bytes, target = std::move(*target)](const Answer& answer) {
            answer(target.fileSystem->writeAtPosition(target.url, *bytes, position));
        });
}

void WHFile::truncate(const WHInvokedUrlCommand& command)
{
    auto target = targetForArgument(command, rawArgument0(command));
    if (!target)
        return;
    auto length = numberArgument(command, 1);
    if (length < 0) {
        answer(command, fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR));
        return;
    }
    inBackground(command, Order::AfterEarlierChanges, FileError::INVALID_MODIFICATION_ERR,
        [length = static_cast<std::uint64_t>(length), target = std::move(*target)](const Answer& answer) {
            answer(target.fileSystem->truncateFileAtURL(target.url, length));
        });
}

disk::PathInfo WHFile::probeInRoots(const std::string& localPath) const
{
    // Only what the file systems hold is answered for; anything else is as if missing.
    for (const auto& fileSystem : m_fileSystems) {
        auto* local = dynamic_cast<const WHLocalFilesystem*>(fileSystem.get());
        auto fullPath = local ? local->fullPathForFileSystemPath(localPath) : std::nullopt;
        if (!fullPath || fullPath->find('?') != std::string::npos)
            continue;
        if (auto info = local->probePath(*fullPath); info.exists)
            return info;
    }
    return {};
}

void WHFile::testFileExists(const WHInvokedUrlCommand& command)
{
    const Value* path = command.argumentAtIndex(0);
    bool exists = path && path->is_string() && probeInRoots(path->get<std::string>()).exists;
    answer(command, WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, exists ? 1 : 0));
}

void WHFile::testDirectoryExists(const WHInvokedUrlCommand& command)
{
    const Value* path = command.argumentAtIndex(0);
    bool exists = path && path->is_string() && probeInRoots(path->get<std::string>()).isDirectory;
    answer(command, WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, exists ? 1 : 0));
}

void WHFile::getFreeDiskSpace(const WHInvokedUrlCommand& command)
{
    // A documents folder not made yet is measured on the volume it would be made on; a space that
    // cannot be measured is an error, never a disk without room.
    auto freeBytes = checkFreeDiskSpace(m_appDocsPath);
    if (!freeBytes) {
        log::message(format("free disk space of %@ unknown", m_appDocsPath));
        answer(command, fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
        return;
    }
    answer(command, WHPluginResult::resultWithStatus(CommandStatus::OK, std::to_string(*freeBytes)));
}

} // namespace penwick
