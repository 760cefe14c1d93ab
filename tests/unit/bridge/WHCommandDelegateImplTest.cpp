#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <thread>

#include "BridgeTestSupport.h"
#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHCommandQueue.h"
#include "support/MainLoopScheduler.h"
#include "support/ThreadPoolWorkQueue.h"

using namespace penwick;
using namespace penwick::test;

namespace {
std::string expression(const std::string& id, int status, const std::string& json, int keep)
{
    return "webhost.require('webhost/exec').nativeCallback('" + id + "'," + std::to_string(status) + "," + json + ","
        + std::to_string(keep) + ")";
}

// The callback id as the page's script engine would read the literal back (enough of the escape
// rules for the escapes we write).
std::string unescapeLiteral(std::string_view body)
{
    std::string out;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\') {
            out += body[i];
            continue;
        }
        char e = body[++i];
        switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': out += static_cast<char>(std::stoi(std::string(body.substr(i + 1, 2)), nullptr, 16)); i += 2; break;
        case 'u': {
            auto cp = std::stoi(std::string(body.substr(i + 1, 4)), nullptr, 16);
            out += cp == 0x2028 ? "\u2028" : cp == 0x2029 ? "\u2029" : "\uFFFD";
            i += 4;
            break;
        }
        default: out += e;
        }
    }
    return out;
}
} // namespace

using CommandDelegateTest = BridgeTest;

TEST_F(CommandDelegateTest, ResultBecomesTheNativeCallbackExpressionOnALaterTurn)
{
    auto vc = makeController();
    auto* delegate = vc->commandDelegate();
    auto result = WHPluginResult::resultWithStatus(CommandStatus::OK, "ok");
    delegate->sendPluginResult(result, "File123");
    result.setKeepCallbackAsBool(true);
    delegate->sendPluginResult(result, "File124");
    EXPECT_TRUE(m_webView.scripts().empty());

    EXPECT_EQ(m_platform.scheduler.runPending(), 2u);
    EXPECT_EQ(m_webView.scripts(), (std::vector<std::string> {
                                       expression("File123", 1, "\n  \"ok\"\n", 0),
                                       expression("File124", 1, "\n  \"ok\"\n", 1),
                                   }));
}

TEST_F(CommandDelegateTest, InvalidCallbackIdIsDroppedAndAResultWithoutJsonFormSendsNull)
{
    auto vc = makeController();
    vc->commandDelegate()->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK), "INVALID");
    EXPECT_EQ(m_platform.scheduler.pendingCount(), 0u);
    vc->commandDelegate()->sendPluginResult(WHPluginResult(9, Value(std::string("\xFF"))), "cb");
    m_platform.scheduler.runPending();
    EXPECT_EQ(m_webView.scripts(), std::vector<std::string> { expression("cb", 9, "null", 0) });
}

TEST_F(CommandDelegateTest, CallbackIdIsAlwaysOneStringLiteral)
{
    // Ordinary ids are written as they stand.
    for (const char* id : { "File123", "Device0", "cb-1_2.3:4/5@x#y", "a b(c)[d]{e}$%&*+,;=?~|^!\"<>" })
        EXPECT_EQ(WHCommandDelegateImpl::escapeForSingleQuotedLiteral(id), id);

    const std::string awkward[] = { "x');alert(1);//", "back\\slash", "line\nbreak\r", "sep\u2028para\u2029",
        std::string("ctl\x01\x7F", 5), "é😀" };
    for (const auto& id : awkward) {
        auto body = WHCommandDelegateImpl::escapeForSingleQuotedLiteral(id);
        // No bare quote, backslash pair broken up, or line terminator left inside the literal.
        for (size_t i = 0; i < body.size(); ++i) {
            if (body[i] == '\\') {
                ++i;
                continue;
            }
            EXPECT_NE(body[i], '\'') << body;
        }
        EXPECT_EQ(body.find_first_of("\n\r"), std::string::npos);
        EXPECT_EQ(body.find("\u2028"), std::string::npos);
        EXPECT_EQ(unescapeLiteral(body), id) << body;
    }
    EXPECT_EQ(WHCommandDelegateImpl::escapeForSingleQuotedLiteral("bad\xC3"), "bad\\uFFFD");

    auto js = WHCommandDelegateImpl::nativeCallbackExpression(WHPluginResult(1, std::nullopt), "x');alert(1);//");
    EXPECT_EQ(js, expression("x\\');alert(1);//", 1, "\n  null\n", 0));
}

TEST_F(CommandDelegateTest, EvalJsWrapsTheScriptAndSchedulesOrRunsAtOnce)
{
    auto vc = makeController();
    auto* delegate = vc->commandDelegate();
    delegate->evalJs("a()");
    EXPECT_TRUE(m_webView.scripts().empty());
    delegate->evalJs("b()", WHCommandDelegate::Schedule::OnCallingThread);
    EXPECT_EQ(m_webView.scripts(),
        std::vector<std::string> { "webhost.require('webhost/exec').nativeEvalAndFetch(function(){b()})" });
    m_platform.scheduler.runPending();
    EXPECT_EQ(m_webView.scripts().back(), "webhost.require('webhost/exec').nativeEvalAndFetch(function(){a()})");
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
    EXPECT_EQ(m_platform.scheduler.pendingCount(), 0u);

    // Outside a batch (the way the page's calls arrive) the answer waits for a later turn.
    WHCommandQueue::dispatch(WHInvokedUrlCommand(ValueArray {}, "p1", "File", "echo"), vc->commandDelegate());
    EXPECT_EQ(evaluatedWhenReturned.back(), 2u);
    m_platform.scheduler.runPending();
    EXPECT_EQ(m_webView.scripts().size(), 3u);
}

TEST_F(CommandDelegateTest, ScheduledEvaluationAfterTheDelegateHasGoneDoesNothing)
{
    auto vc = makeController();
    vc->commandDelegate()->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK), "late");
    vc.reset();
    EXPECT_EQ(m_platform.scheduler.runPending(), 1u);
    EXPECT_TRUE(m_webView.scripts().empty());
}

TEST_F(CommandDelegateTest, SettingsResourcesAndBackgroundWork)
{
    auto vc = makeController("<preference name=\"EnableWebGL\" value=\"true\"/>");
    std::string nested = m_platform.environment.writeResource("www/img/logo.png", "x");
    auto* delegate = vc->commandDelegate();
    EXPECT_EQ(delegate->settings().at("EnableWebGL"), "true");
    EXPECT_EQ(delegate->pathForResource("img/logo.png"), nested);
    EXPECT_FALSE(delegate->pathForResource("missing.png"));

    bool ran = false;
    delegate->runInBackground([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_EQ(m_platform.workQueue.runAll(), 1u);
    EXPECT_TRUE(ran);
}

// Real threads: results sent from background blocks and from the main thread are all evaluated
// on the main thread, each sender's in the order it sent them.
TEST(CommandDelegateThreads, ResultsFromManyThreadsAreEvaluatedOnTheMainThreadInOrder)
{
    registerTestPluginClasses();
    MainLoopScheduler scheduler;
    ThreadPoolWorkQueue workQueue(4);
    FakeAppEnvironment environment;
    InMemoryUserDefaults defaults;
    platform::Platform platform { scheduler, workQueue, environment, defaults };
    environment.writeResource("config.xml", "<widget/>");
    RecordingWebView webView;
    WHViewController vc(platform);
    vc.setWebView(&webView);
    auto* delegate = vc.commandDelegate();

    constexpr int kBlocks = 8;
    constexpr int kPerBlock = 200;
    for (int b = 0; b < kBlocks; ++b) {
        delegate->runInBackground([delegate, b] {
            for (int k = 0; k < kPerBlock; ++k) {
                auto result = WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, k);
                delegate->sendPluginResult(result, "t" + std::to_string(b));
            }
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

    const size_t expected = kBlocks * kPerBlock + 2;
    ASSERT_TRUE(scheduler.runUntil([&] { return webView.scripts().size() == expected; }));
    workQueue.waitUntilIdle();

    const auto threads = webView.evaluatedOnThreads();
    for (auto id : threads)
        ASSERT_EQ(id, std::this_thread::get_id());

    std::map<std::string, int> next;
    std::vector<std::string> order;
    for (const auto& js : webView.scripts()) {
        auto open = js.find("nativeCallback('") + 16;
        std::string id = js.substr(open, js.find('\'', open) - open);
        order.push_back(id);
        if (id[0] != 't')
            continue;
        auto comma = js.find(",1,") + 3;
        int k = std::stoi(js.substr(comma));
        EXPECT_EQ(k, next[id]++) << id;
    }
    for (int b = 0; b < kBlocks; ++b)
        EXPECT_EQ(next["t" + std::to_string(b)], kPerBlock);
    auto before = std::find(order.begin(), order.end(), "before");
    auto after = std::find(order.begin(), order.end(), "after");
    ASSERT_NE(after, order.end());
    EXPECT_LT(before, after);
}
