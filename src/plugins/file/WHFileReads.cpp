#include "plugins/file/WHFile.h"

#include <algorithm>

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"
#include "base/Utf8.h"
#include "bridge/WHBase64.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "channel/ChannelProtocol.h"
#include "plugins/file/ReadBuffers.h"
#include "plugins/file/WHLocalFilesystem.h"

// The file plugin's reading, writing and queries.
namespace penwick {
namespace {

// The most an answer to the page carries: what one page-channel frame takes, less room for the
// frame's head.
constexpr std::uint64_t kMaxAnswerBytes = channel::kMaxPayload - 64 * 1024;

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

} // namespace

// ---- reading, writing and queries -------------------------------------------------------------

void WHFile::readAsText(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* arg = rawArgument0(command);
    const Value* encoding = command.argumentAtIndex(1);
    if (!arg || !arg->is_string() || (encoding && !encoding->is_string())) {
        reply.send(fileError(CommandStatus::Error, FileError::TYPE_MISMATCH_ERR));
        return;
    }
    auto target = m_registry.targetForString(arg->get<std::string>());
    if (!target) {
        reply.send(fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
        return;
    }
    // No encoding named reads as UTF-8, the one encoding there is.
    if (encoding && asciiLowercase(encoding->get<std::string>()) != "utf-8") {
        log::message("Only UTF-8 encodings are currently supported by readAsText");
        reply.send(fileError(CommandStatus::IOException, FileError::ENCODING_ERR));
        return;
    }
    auto start = numberArgument(command, 2), end = numberArgument(command, 3);
    // Held at once: the bytes, the text, its JSON and the frame written from it.
    auto held = [](std::uint64_t bytes) { return 4 * bytes; };
    readInTurn(std::move(reply), *target, start, end, kMaxAnswerBytes, held, [start, end, target = *target](const FileWork::Answer& answer, const ReadBudget::Lease& lease) {
        target.fileSystem->readFileAtURL(target.url, start, end, kMaxAnswerBytes,
            [answer, lease](std::optional<Bytes> bytes, std::string, FileError error) {
                if (!bytes) {
                    answer(fileError(CommandStatus::IOException, error));
                } else if (!isValidUtf8(*bytes)) {
                    answer(fileError(CommandStatus::IOException, FileError::ENCODING_ERR));
                } else {
                    auto result = WHPluginResult::resultWithStatus(CommandStatus::OK, std::string(bytes->begin(), bytes->end()));
                    ReadBuffers::shared().give(std::move(*bytes));
                    result.setHold(lease);
                    answer(result);
                }
            });
    });
}

void WHFile::readAsDataURL(const WHInvokedUrlCommand& command, Reply reply) { read(command, std::move(reply), ReadForm::DataURL); }
void WHFile::readAsArrayBuffer(const WHInvokedUrlCommand& command, Reply reply) { read(command, std::move(reply), ReadForm::ArrayBuffer); }
void WHFile::readAsBinaryString(const WHInvokedUrlCommand& command, Reply reply) { read(command, std::move(reply), ReadForm::BinaryString); }

void WHFile::read(const WHInvokedUrlCommand& command, Reply reply, ReadForm form)
{
    auto target = targetForArgument(reply, rawArgument0(command));
    if (!target)
        return;
    auto start = numberArgument(command, 1), end = numberArgument(command, 2);
    // The bytes the answer's form may hold: Base64 takes 4 characters for 3 bytes, a binary
    // string up to 2 for each byte above 0x7F.
    std::uint64_t maxBytes = form == ReadForm::DataURL ? kMaxAnswerBytes / 4 * 3 - 1024
        : form == ReadForm::BinaryString              ? kMaxAnswerBytes / 2
                                                      : kMaxAnswerBytes;
    // Held at once: the bytes, which leave for the page from where they were read, and as many
    // again in the web process while they cross; for text forms the bytes, the text (4/3 of the
    // bytes in Base64, up to twice them in a binary string), its JSON and the frame.
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
    readInTurn(std::move(reply), *target, start, end, maxBytes, held,
        [start, end, form, maxBytes, target = *target](const FileWork::Answer& answer, const ReadBudget::Lease& lease) {
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
                        result = WHPluginResult::resultWithStatusSharedMessage(CommandStatus::OK,
                            ReadBuffers::shared().arrayBufferMessage(std::move(*bytes)));
                        break;
                    case ReadForm::BinaryString:
                        result = WHPluginResult::resultWithStatus(CommandStatus::OK, latin1ToUtf8(*bytes));
                        break;
                    }
                    ReadBuffers::shared().give(std::move(*bytes));
                    result.setHold(lease);
                    answer(result);
                });
        });
}

void WHFile::write(const WHInvokedUrlCommand& command, Reply reply)
{
    auto target = targetForArgument(reply, rawArgument0(command));
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
        reply.fail(CommandStatus::Error, "Invalid parameter type");
        return;
    }
    // A negative position writes from the start.
    auto position = static_cast<std::uint64_t>(std::max<std::int64_t>(numberArgument(command, 2), 0));
    // Cut and written as one step: the file holds its old content or the new one (an append: its
    // old bytes and what of the tail is written so far).
    inBackground(std::move(reply), FileWork::Order::AfterEarlierChanges, FileError::INVALID_MODIFICATION_ERR,
        [position, bytes, target = std::move(*target)](const FileWork::Answer& answer) {
            answer(target.fileSystem->writeAtPosition(target.url, *bytes, position));
        });
}

void WHFile::truncate(const WHInvokedUrlCommand& command, Reply reply)
{
    auto target = targetForArgument(reply, rawArgument0(command));
    if (!target)
        return;
    auto length = numberArgument(command, 1);
    if (length < 0) {
        reply.send(fileError(CommandStatus::IOException, FileError::INVALID_MODIFICATION_ERR));
        return;
    }
    inBackground(std::move(reply), FileWork::Order::AfterEarlierChanges, FileError::INVALID_MODIFICATION_ERR,
        [length = static_cast<std::uint64_t>(length), target = std::move(*target)](const FileWork::Answer& answer) {
            answer(target.fileSystem->truncateFileAtURL(target.url, length));
        });
}

void WHFile::testFileExists(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* path = command.argumentAtIndex(0);
    bool exists = path && path->is_string() && m_registry.probeInRoots(path->get<std::string>()).exists;
    reply.send(WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, exists ? 1 : 0));
}

void WHFile::testDirectoryExists(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* path = command.argumentAtIndex(0);
    bool exists = path && path->is_string() && m_registry.probeInRoots(path->get<std::string>()).isDirectory;
    reply.send(WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, exists ? 1 : 0));
}

void WHFile::getFreeDiskSpace(const WHInvokedUrlCommand&, Reply reply)
{
    // A documents folder not made yet is measured on the volume it would be made on; a space that
    // cannot be measured is an error, never a disk without room.
    auto freeBytes = FileSystemRegistry::checkFreeDiskSpace(m_registry.appDocsPath());
    if (!freeBytes) {
        log::message(format("free disk space of %@ unknown", m_registry.appDocsPath()));
        reply.send(fileError(CommandStatus::IOException, FileError::NOT_FOUND_ERR));
        return;
    }
    reply.send(WHPluginResult::resultWithStatus(CommandStatus::OK, std::to_string(*freeBytes)));
}

} // namespace penwick
