#include "plugins/file/WHFile.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <glib.h>

#include "base/Log.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "plugins/file/LocalDisk.h"
#include "plugins/file/WHFilePluginSlot.h"

namespace penwick {
namespace {

std::string lastComponent(const WHFilesystemURL& url)
{
    if (!url.url())
        return {};
    auto components = url.url()->pathComponents();
    return components.empty() ? std::string() : components.back();
}

} // namespace

WHFile::WHFile(const WHPluginContext& context)
    : WHPlugin(context)
    , m_work(context.commandDelegate())
{
}

const std::string& WHFile::className() const
{
    static const std::string s_name = "WHFile";
    return s_name;
}

void WHFile::pluginInitialize()
{
    m_registry.start(context().environment(), context().settings());
    // Published last, so that other threads never see a registry being filled.
    if (auto* slot = context().service<WHFilePluginSlot>())
        slot->publish(this);
}

std::vector<std::string> WHFile::servedFolders() const { return m_registry.servedFolders(); }

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

// ---- helpers of the actions -----------------------------------------------------------------

std::optional<WHFile::Target> WHFile::targetForArgument(Reply& reply, const Value* argument)
{
    if (!argument || !argument->is_string()) {
        reply.send(fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return std::nullopt;
    }
    auto target = m_registry.targetForString(argument->get<std::string>());
    if (!target)
        reply.send(fileError(CommandStatus::Error, FileError::ENCODING_ERR));
    return target;
}

void WHFile::inBackground(Reply reply, FileWork::Order order, FileError onException, FileWork::Work work)
{
    std::string label = reply.address().callbackId;
    m_work.run(FileWork::answerWith(std::move(reply)), std::move(label), order, onException, std::move(work));
}

void WHFile::readInTurn(Reply reply, Target target, std::int64_t start, std::int64_t end, std::uint64_t maxBytes,
    std::function<std::uint64_t(std::uint64_t)> bytesHeld, FileWork::ReadWork work)
{
    std::string label = reply.address().callbackId;
    m_work.readInTurn(FileWork::answerWith(std::move(reply)), std::move(label), std::move(target), start, end, maxBytes,
        std::move(bytesHeld), std::move(work));
}

// A number argument the way the page's numbers arrive: integers, doubles (cut toward zero and held
// inside the 64-bit range), booleans and numeric strings; anything else, or nothing, is 0.
std::int64_t WHFile::numberArgument(const WHInvokedUrlCommand& command, size_t index)
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

const Value* WHFile::rawArgument0(const WHInvokedUrlCommand& command)
{
    return command.arguments().empty() ? nullptr : &command.arguments()[0];
}

// ---- file systems and paths -----------------------------------------------------------------

void WHFile::requestFileSystem(const WHInvokedUrlCommand& command, Reply reply)
{
    auto type = static_cast<std::int32_t>(numberArgument(command, 0));
    auto size = static_cast<std::uint64_t>(numberArgument(command, 1));
    if (type < 0 || static_cast<size_t>(type) >= m_registry.all().size()) {
        log::message("No filesystem of type requested");
        reply.send(fileError(CommandStatus::Error, FileError::NOT_FOUND_ERR));
        return;
    }
    auto freeBytes = FileSystemRegistry::checkFreeDiskSpace(m_registry.appSupportPath());
    if (freeBytes && *freeBytes < size) {
        reply.send(fileError(CommandStatus::IOException, FileError::QUOTA_EXCEEDED_ERR));
        return;
    }
    auto& fileSystem = m_registry.all()[static_cast<size_t>(type)];
    ValueObject message;
    message["name"] = fileSystem->name();
    message["root"] = fileSystem->makeEntryForPath("/", EntryKind::Directory);
    reply.send(WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(message)));
}

void WHFile::requestAllFileSystems(const WHInvokedUrlCommand&, Reply reply)
{
    ValueArray roots;
    for (const auto& fileSystem : m_registry.all())
        roots.push_back(fileSystem->makeEntryForPath("/", EntryKind::Directory));
    reply.send(WHPluginResult::resultWithStatusMessageAsArray(CommandStatus::OK, std::move(roots)));
}

void WHFile::requestAllPaths(const WHInvokedUrlCommand&, Reply reply)
{
    auto urlOf = [](const std::string& path) {
        return WHURL::fileURLStringWithPath(path, disk::probe(path).isDirectory ? WHURL::Directory::Yes : WHURL::Directory::No);
    };
    ValueObject paths;
    paths["applicationDirectory"] = urlOf(context().environment().resourcePath());
    paths["applicationStorageDirectory"] = urlOf(m_registry.appSupportPath());
    paths["dataDirectory"] = urlOf(m_registry.appDataPath());
    paths["documentsDirectory"] = urlOf(m_registry.appDocsPath());
    paths["cacheDirectory"] = urlOf(m_registry.appCachePath());
    paths["tempDirectory"] = urlOf(m_registry.appTempPath());
    paths["rootDirectory"] = "file:///";
    reply.send(WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(paths)));
}

void WHFile::resolveLocalFileSystemURI(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* arg = command.argumentAtIndex(0);
    if (!arg || !arg->is_string()) {
        reply.send(fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    auto encoded = FileSystemRegistry::encodePath(arg->get<std::string>());
    auto target = encoded ? m_registry.targetForString(*encoded) : std::nullopt;
    if (!target) {
        reply.send(fileError(CommandStatus::Error, FileError::ENCODING_ERR));
        return;
    }
    reply.send(target->fileSystem->entryForLocalURI(target->url));
}

void WHFile::getLocalFilesystemPath(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* arg = rawArgument0(command);
    if (!arg || !arg->is_string()) {
        reply.send(fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    auto url = m_registry.fileSystemURLforArg(arg->get<std::string>());
    auto path = url ? m_registry.filesystemPathForURL(*url) : std::nullopt;
    if (!path) {
        reply.fail(CommandStatus::Error, "Cannot resolve URL to a file");
        return;
    }
    // A page gets text: a path in another encoding (a home folder named in Latin-1) would reach it as
    // null, and one made readable would name another file.
    if (!g_utf8_validate(path->data(), static_cast<gssize>(path->size()), nullptr)) {
        reply.fail(CommandStatus::Error, "The local path of the file is not UTF-8 text");
        return;
    }
    reply.ok(*path);
}

// ---- entries ----------------------------------------------------------------------------------

void WHFile::getFile(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* path = command.argumentAtIndex(1);
    const Value* options = command.argumentAtIndex(2);
    if ((path && !path->is_string()) || (options && !options->is_object())) {
        reply.send(fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    auto target = targetForArgument(reply, command.argumentAtIndex(0));
    if (!target)
        return;
    std::optional<std::string> requestedPath;
    if (path)
        requestedPath = path->get<std::string>();
    reply.send(target->fileSystem->getFileForURL(target->url, requestedPath, options ? *options : Value()));
}

void WHFile::getDirectory(const WHInvokedUrlCommand& command, Reply reply)
{
    ValueArray arguments = command.arguments();
    const Value* options = arguments.size() >= 3 ? command.argumentAtIndex(2) : nullptr;
    if (options && !options->is_object()) {
        reply.send(fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    Value changed = options ? *options : Value(ValueObject());
    changed["getDir"] = 1;
    if (arguments.size() >= 3)
        arguments[2] = std::move(changed);
    else
        arguments.push_back(std::move(changed));
    getFile(WHInvokedUrlCommand(std::move(arguments), command.callbackId(), command.cmdClassName(), command.methodName(), command.context()),
        std::move(reply));
}

void WHFile::getParent(const WHInvokedUrlCommand& command, Reply reply)
{
    if (auto target = targetForArgument(reply, rawArgument0(command)))
        reply.send(target->fileSystem->getParentForURL(target->url));
}

void WHFile::setMetadata(const WHInvokedUrlCommand& command, Reply reply)
{
    if (auto target = targetForArgument(reply, rawArgument0(command)))
        reply.send(target->fileSystem->setMetadataForURL(target->url, command.argumentAtIndex(1, Value())));
}

void WHFile::readEntries(const WHInvokedUrlCommand& command, Reply reply)
{
    auto target = targetForArgument(reply, rawArgument0(command));
    if (!target)
        return;
    // The page library asks for the lean form with {"lean": true}; anyone else gets the entries.
    const Value* options = command.argumentAtIndex(1);
    bool lean = options && options->is_object() && options->contains("lean") && options->at("lean") == true;
    auto form = lean ? EntriesForm::Lean : EntriesForm::Objects;
    // A folder of many thousand items takes a while to list; the page's other calls go on meanwhile.
    inBackground(std::move(reply), FileWork::Order::AtOnce, FileError::NOT_READABLE_ERR, [form, target = std::move(*target)](const FileWork::Answer& answer) {
        answer(target.fileSystem->readEntriesAtURL(target.url, form));
    });
}

void WHFile::getFileMetadata(const WHInvokedUrlCommand& command, Reply reply)
{
    auto target = targetForArgument(reply, rawArgument0(command));
    if (!target)
        return;
    target->fileSystem->getFileMetadataForURL(target->url, FileWork::answerWith(std::move(reply)));
}

void WHFile::remove(const WHInvokedUrlCommand& command, Reply reply) { removeEntry(command, std::move(reply), RemoveMode::Single); }
void WHFile::removeRecursively(const WHInvokedUrlCommand& command, Reply reply) { removeEntry(command, std::move(reply), RemoveMode::Recursive); }

void WHFile::removeEntry(const WHInvokedUrlCommand& command, Reply reply, RemoveMode mode)
{
    auto target = targetForArgument(reply, rawArgument0(command));
    if (!target)
        return;
    if (target->url.fullPath().value_or("").empty()) {
        reply.send(fileError(CommandStatus::IOException, FileError::NO_MODIFICATION_ALLOWED_ERR));
        return;
    }
    // In order with the changes before it; a big tree also takes long to remove.
    inBackground(std::move(reply), FileWork::Order::AfterEarlierChanges, FileError::ABORT_ERR, [mode, target = std::move(*target)](const FileWork::Answer& answer) {
        answer(mode == RemoveMode::Single ? target.fileSystem->removeFileAtURL(target.url)
                                          : target.fileSystem->recursiveRemoveFileAtURL(target.url));
    });
}

void WHFile::copyTo(const WHInvokedUrlCommand& command, Reply reply) { transfer(command, std::move(reply), TransferMode::Copy); }
void WHFile::moveTo(const WHInvokedUrlCommand& command, Reply reply) { transfer(command, std::move(reply), TransferMode::Move); }

void WHFile::transfer(const WHInvokedUrlCommand& command, Reply reply, TransferMode mode)
{
    const Value* sourceArg = command.argumentAtIndex(0);
    const Value* destinationArg = command.argumentAtIndex(1);
    if (!sourceArg || !destinationArg) {
        reply.send(fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
        return;
    }
    auto source = targetForArgument(reply, sourceArg);
    if (!source)
        return;
    auto destination = targetForArgument(reply, destinationArg);
    if (!destination)
        return;
    std::optional<std::string> newName;
    if (command.arguments().size() > 2) {
        const Value* name = command.argumentAtIndex(2);
        if (name && !name->is_string()) {
            reply.send(fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
            return;
        }
        if (name)
            newName = name->get<std::string>();
    } else {
        newName = lastComponent(source->url);
    }
    // A "?" would begin the query of the new entry's URL: the entry would name another file.
    if (!newName || newName->find_first_of(std::string_view(":?\0", 3)) != std::string::npos) {
        reply.send(fileError(CommandStatus::IOException, FileError::ENCODING_ERR));
        return;
    }
    // In order with the other changes; a directory tree may also take long to copy or move.
    inBackground(std::move(reply), FileWork::Order::AfterEarlierChanges, FileError::INVALID_MODIFICATION_ERR,
        [mode, name = std::move(*newName), source = std::move(*source), destination = std::move(*destination)](const FileWork::Answer& answer) {
            destination.fileSystem->copyFileToURL(destination.url, name, *source.fileSystem, source.url, mode, answer);
        });
}

} // namespace penwick
