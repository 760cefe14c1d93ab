#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "BridgeTestSupport.h"
#include "bridge/WHBridge.h"
#include "bridge/WHCallbackAddress.h"
#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHCommandQueue.h"
#include "support/ThreadedWorkQueue.h"

using namespace penwick;
using namespace penwick::test;

namespace {
std::string expression(const std::string& id, int status, const std::string& json, int keep)
{
    return "webhost.require('webhost/exec').nativeCallback('" + id + "'," + std::to_string(status) + "," + json + ","
        + std::to_string(keep) + ")";
}
} // namespace

using CommandDelegateTest = BridgeTest;

TEST_F(CommandDelegateTest, ResultsAndScriptsAreEvaluatedOnALaterTurnUnlessAskedOtherwise)
{
    auto vc = makeController();
    auto* delegate = vc->commandDelegate();
    auto result = WHPluginResult::resultWithStatus(CommandStatus::OK, "ok");
    result.setKeepCallbackAsBool(true);
    delegate->sendPluginResult(result, "File124");
    delegate->sendPluginResult(result, "INVALID"); // the page wants no answer
    delegate->sendPluginResult(WHPluginResult(9, Value(std::string("\xFF"))), "cb"); // no JSON form
    delegate->evalJs("a()");
    EXPECT_TRUE(m_webView.scripts().empty());
    delegate->evalJs("b()", WHCommandDelegate::Schedule::OnCallingThread);

    EXPECT_EQ(m_platform.scheduler.runPending(), 3u);
    const std::string wrap = "webhost.require('webhost/exec').nativeEvalAndFetch(function(){";
    EXPECT_EQ(m_webView.scripts(), (std::vector<std::string> { wrap + "b()})", expression("File124", 1, "\n  \"ok\"\n", 1),
                                       expression("cb", 9, "null", 0), wrap + "a()})" }));
}

TEST_F(CommandDelegateTest, CallbackIdIsAlwaysOneStringLiteral)
{
    const std::pair<std::string, std::string> cases[] = {
        { "cb-1_2.3:4/5@x#y a(b)[c]{d}$%&*+,;=?~|^!\"<>", "cb-1_2.3:4/5@x#y a(b)[c]{d}$%&*+,;=?~|^!\"<>" },
        { "x');alert(1);//", "x\\');alert(1);//" },
        { "back\\slash", "back\\\\slash" },
        { "line\nbreak\r\t", "line\\nbreak\\r\\t" },
        { "sep\u2028para\u2029", "sep\\u2028para\\u2029" },
        { std::string("ctl\x01\x7F\0", 6), "ctl\\x01\\x7F\\x00" },
        { "é😀", "é😀" },
        { "bad\xC3", "bad\\uFFFD" },
    };
    for (const auto& [id, literal] : cases)
        EXPECT_EQ(WHCommandDelegateImpl::escapeForSingleQuotedLiteral(id), literal) << literal;
    auto js = WHCommandDelegateImpl::nativeCallbackExpression(WHPluginResult(1, std::nullopt), "x');alert(1);//");
    EXPECT_EQ(js, expression("x\\');alert(1);//", 1, "\n  null\n", 0));
}

// Each answer goes to the document whose call it answers, by the id its bridge bound; an id the page
// wrote to look bound is bound again, so no page names another document.
TEST_F(CommandDelegateTest, AnswersGoOnlyToTheDocumentThatAsked)
{
    auto vc = makeController();
    auto& plugin = filePlugin(*vc);
    plugin.onEcho = [&](const WHInvokedUrlCommand& command) {
        vc->commandDelegate()->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK), command.callbackId().value_or("INVALID"));
    };
    const std::pair<std::uint64_t, Value> calls[] = { { 7, Value("a") }, { 7, Value("\x1F" "3\x1F" "b") }, { 8, Value(12) },
        { 8, Value("INVALID") }, { 0, Value("c") } };
    for (const auto& [context, id] : calls) {
        platform::WindowObject window;
        window.contextId = context;
        WHBridge(&m_webView, vc.get(), window).exec(id, Value("File"), Value("echo"), Value::array());
    }
    m_platform.scheduler.runPending();
    EXPECT_EQ(m_webView.answerContexts, (std::vector<std::uint64_t> { 7, 7, 8, 0 }));
    auto scripts = m_webView.scripts();
    ASSERT_EQ(scripts.size(), 4u);
    EXPECT_EQ(scripts[0], expression("a", 1, "\n  null\n", 0));
    EXPECT_EQ(scripts[1], expression("\\x1F3\\x1Fb", 1, "\n  null\n", 0));
    EXPECT_EQ(scripts[2], expression("12", 1, "\n  null\n", 0));
    EXPECT_EQ(WHCallbackAddress::parse(WHCallbackAddress::bind(9, "x")).callbackId, "x");
}

TEST_F(CommandDelegateTest, ResultsSentDuringABatchAreEvaluatedAtOnce)
{
    auto vc = makeController();
    auto& plugin = filePlugin(*vc);
    std::vector<size_t> evaluatedWhenReturned;
    plugin.onEcho = [&](const WHInvokedUrlCommand& command) {
        plugin.commandDelegate()->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK),
            command.callbackId().value_or(""));
        evaluatedWhenReturned.push_back(m_webView.scripts().size());
    };
    vc->commandQueue()->enqueCommandBatch(R"([["q1", "File", "echo", []], ["q2", "File", "echo", []]])");
    EXPECT_EQ(evaluatedWhenReturned, (std::vector<size_t> { 1, 2 }));
    EXPECT_EQ(m_platform.scheduler.runPending(), 0u) << "and not once more later";
}

TEST_F(CommandDelegateTest, ScheduledEvaluationAfterTheDelegateHasGoneDoesNothing)
{
    auto vc = makeController();
    vc->commandDelegate()->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK), "late");
    vc.reset();
    EXPECT_EQ(m_platform.scheduler.runPending(), 1u);
    EXPECT_TRUE(m_webView.scripts().empty());
}

// Real threads (the point under ThreadSanitizer): results sent from background blocks and from the
// main thread are all evaluated on the main thread. A sender's answers keeping their order is
// checked end to end.
TEST_F(CommandDelegateTest, ResultsFromManyThreadsAreEvaluatedOnTheMainThread)
{
    ThreadedWorkQueue workQueue;
    platform::Platform platform { m_platform.scheduler, workQueue, m_platform.environment, m_platform.userDefaults };
    m_platform.environment.writeResource("config.xml", "<widget/>");
    WHViewController vc(platform);
    vc.setWebView(&m_webView);
    auto* delegate = vc.commandDelegate();

    constexpr int kBlocks = 8, kPerBlock = 50;
    for (int b = 0; b < kBlocks; ++b) {
        delegate->runInBackground([delegate] {
            for (int k = 0; k < kPerBlock; ++k)
                delegate->sendPluginResult(WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, k), "t");
        });
    }
    // One send that happens-after a background send must be evaluated after it.
    std::promise<void> sent;
    delegate->runInBackground([delegate, &sent] {
        delegate->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK), "before");
        sent.set_value();
    });
    sent.get_future().wait();
    delegate->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK), "after");

    ASSERT_TRUE(m_platform.scheduler.runUntil([&] { return m_webView.scripts().size() == kBlocks * kPerBlock + 2; }));
    workQueue.finish();
    for (auto id : m_webView.evaluatedOnThreads())
        ASSERT_EQ(id, std::this_thread::get_id());
    const auto scripts = m_webView.scripts();
    auto position = [&](const std::string& id) {
        return std::find_if(scripts.begin(), scripts.end(), [&](const auto& js) { return js.find("('" + id + "'") != std::string::npos; });
    };
    EXPECT_LT(position("before"), position("after"));
}
