#include <gtest/gtest.h>

#include <stdexcept>

#include "BridgeTestSupport.h"
#include "bridge/WHCommandQueue.h"

using namespace penwick;
using namespace penwick::test;

using CommandQueueTest = BridgeTest;

TEST_F(CommandQueueTest, BatchesQueuedByAnActionRunInTheSameRunAfterTheRestOfTheFirst)
{
    auto vc = makeController();
    auto& plugin = filePlugin(*vc);
    auto& queue = *vc->commandQueue();
    std::vector<bool> runningSeen;
    plugin.onEcho = [&](const WHInvokedUrlCommand& command) {
        runningSeen.push_back(queue.currentlyExecuting());
        if (command.callbackId() == "a2") {
            queue.enqueCommandBatch("[[\"x\", "); // unparsable: no commands, the next still runs
            queue.enqueCommandBatch(R"({"not": "an array"})");
            queue.enqueCommandBatch(R"([["b1", "File", "echo", []]])");
        }
    };
    queue.enqueCommandBatch(R"([["a1", "File", "echo", []], ["a2", "File", "echo", []], ["a3", "File", "echo", []]])");
    EXPECT_EQ(plugin.calls, (std::vector<std::string> { "a1", "a2", "a3", "b1" }));
    EXPECT_EQ(runningSeen, std::vector<bool>(4, true));
    EXPECT_EQ(queue.pendingBatchCount(), 0u);
    EXPECT_FALSE(queue.currentlyExecuting());
    EXPECT_EQ(m_log.lines().size(), 1u); // the parse error line
}

TEST_F(CommandQueueTest, ActionErrorLeavesEveryBatchQueuedForTheNextRun)
{
    auto vc = makeController();
    auto& plugin = filePlugin(*vc);
    auto& queue = *vc->commandQueue();
    bool fail = true;
    plugin.onEcho = [&](const WHInvokedUrlCommand& command) {
        if (command.callbackId() == "boom" && fail)
            throw std::runtime_error("action failed");
    };
    EXPECT_THROW(queue.enqueCommandBatch(R"([["ok", "File", "echo", []], ["boom", "File", "echo", []]])"),
        std::runtime_error);
    EXPECT_FALSE(queue.currentlyExecuting());
    EXPECT_EQ(queue.pendingBatchCount(), 1u);

    fail = false;
    queue.executePending();
    EXPECT_EQ(plugin.calls, (std::vector<std::string> { "ok", "boom", "ok", "boom" }));
    EXPECT_EQ(queue.pendingBatchCount(), 0u);
}
