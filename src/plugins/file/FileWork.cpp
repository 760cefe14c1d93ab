#include "plugins/file/FileWork.h"

#include <algorithm>
#include <atomic>
#include <sys/stat.h>

#include "base/Format.h"
#include "base/Log.h"
#include "bridge/WHCommandDelegate.h"

namespace penwick {
namespace {

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

} // namespace

FileWork::FileWork(WHCommandDelegate& delegate)
    : m_delegate(delegate)
    , m_changes(SerialQueue::create())
    , m_readBudget(ReadBudget::create(kReadBudgetBytes))
{
}

FileWork::Answer FileWork::answerWith(Reply reply)
{
    return [reply = std::make_shared<Reply>(std::move(reply))](const WHPluginResult& result) { reply->send(result); };
}

void FileWork::run(Answer answer, std::string label, Order order, FileError onException, Work work)
{
    auto sent = std::make_shared<std::atomic<bool>>(false);
    Answer answerOnce = [answer = std::move(answer), sent](const WHPluginResult& result) {
        if (!sent->exchange(true))
            answer(result);
    };
    auto task = guarded(std::move(answerOnce), std::move(label), onException, std::move(work));
    auto* delegate = &m_delegate;
    if (order == Order::AtOnce)
        delegate->runInBackground(std::move(task));
    else
        m_changes->push(std::move(task), [delegate](std::function<void()> drain) { delegate->runInBackground(std::move(drain)); });
}

std::function<void()> FileWork::guarded(Answer answer, std::string label, FileError onException, Work work)
{
    return [answer = std::move(answer), label = std::move(label), onException, work = std::move(work)] {
        auto failed = WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::IOException, fileErrorCode(onException));
        try {
            work(answer);
        } catch (const std::exception& e) {
            log::message(format("file work for callback %@ failed: %@", label, e.what()));
            answer(failed);
        } catch (...) {
            log::message(format("file work for callback %@ failed", label));
            answer(failed);
        }
    };
}

void FileWork::readInTurn(Answer answer, std::string label, FileSystemRegistry::Target target, std::int64_t start,
    std::int64_t end, std::uint64_t maxBytes, std::function<std::uint64_t(std::uint64_t)> bytesHeld, ReadWork work)
{
    auto* delegate = &m_delegate;
    // Sized in the background (a look at the file), read once its answer fits the budget: many
    // large reads at once take their turns instead of holding the memory of all of them.
    run(std::move(answer), label, Order::AtOnce, FileError::NOT_READABLE_ERR,
        [delegate, budget = m_readBudget, label, target = std::move(target), start, end, maxBytes,
            bytesHeld = std::move(bytesHeld), work = std::move(work)](const Answer& answer) {
            auto held = bytesHeld(expectedReadBytes(*target.fileSystem, target.url, start, end, maxBytes));
            budget->admit(held, [delegate, answer, label, work](ReadBudget::Lease lease) {
                delegate->runInBackground(guarded(answer, label, FileError::NOT_READABLE_ERR,
                    [work, lease = std::move(lease)](const Answer& answer) { work(answer, lease); }));
            });
        });
}

} // namespace penwick
