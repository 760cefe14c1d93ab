#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bridge/Reply.h"
#include "bridge/WHPluginResult.h"
#include "plugins/file/FileSystemRegistry.h"
#include "plugins/file/ReadBudget.h"
#include "plugins/file/SerialQueue.h"
#include "plugins/file/WHFileError.h"

namespace penwick {

class WHCommandDelegate;

// The file plugin's work off the main thread. Changes (write, truncate, copy, move, remove) run
// one at a time in the order the page asked for them, so that the last one asked for is the one
// that stays; one order for all file systems, since a move spans two of them and "root" overlaps
// the others. Reads run at once, side by side, once the view's read budget has room for their
// answer. Nothing a task meets (no memory, a bad path) takes the host down: the call fails.
class FileWork {
public:
    // Answers the call; only the first answer counts.
    using Answer = std::function<void(const WHPluginResult&)>;
    using Work = std::function<void(const Answer&)>;
    using ReadWork = std::function<void(const Answer&, const ReadBudget::Lease&)>;
    enum class Order { AfterEarlierChanges, AtOnce };

    // The delegate outlives the plugin and its work.
    explicit FileWork(WHCommandDelegate& delegate);
    // An answer through the call's reply, for work that may answer from any thread.
    static Answer answerWith(Reply reply);

    // Runs `work` on the work queue; an exception answers `onException` with status 6 instead.
    // `label` names the call in log lines.
    void run(Answer answer, std::string label, Order order, FileError onException, Work work);
    // Runs a read of `target` in the background once the read budget has room for `bytesHeld`
    // (what its answer holds in the host at most, given the bytes the read takes); `work` puts
    // the lease it is given on its result.
    void readInTurn(Answer answer, std::string label, FileSystemRegistry::Target target, std::int64_t start, std::int64_t end,
        std::uint64_t maxBytes, std::function<std::uint64_t(std::uint64_t)> bytesHeld, ReadWork work);

private:
    static std::function<void()> guarded(Answer answer, std::string label, FileError onException, Work work);

    WHCommandDelegate& m_delegate;
    std::shared_ptr<SerialQueue> m_changes;
    std::shared_ptr<ReadBudget> m_readBudget;
};

} // namespace penwick
