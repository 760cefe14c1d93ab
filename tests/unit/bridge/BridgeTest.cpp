// A controller's bridge: which plugin a service name reaches, how the delegate answers a call (on
// the main thread, to the document that asked, as the page reads it) and calls that run no action.
#include <algorithm>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <thread>
#include <tuple>

#include "bridge/WHBridge.h"
#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "channel/ChannelMessages.h"
#include "host/WHViewController.h"
#include "platform/glib/GLibWorkQueue.h"
#include "support/LogCapture.h"
#include "support/RecordingWebView.h"
#include "support/TestPlatform.h"

using namespace penwick;
using namespace penwick::test;

namespace {

// The script that hands a page its answer.
std::string expression(const std::string& id, int status, const std::string& json, bool keep)
{
    return "webhost.require('webhost/exec').nativeCallback('" + id + "'," + std::to_string(status) + "," + json + (keep ? ",1)" : ",0)");
}

// A plugin that records its life and its calls; tests hang behaviour on its actions.
class RecordingPlugin : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    static inline const std::string kClassName = "TestRecordingPlugin";
    const std::string& className() const override { return kClassName; }

    void pluginInitialize() override { initialized.push_back(viewController() && commandDelegate()); }

    // Answers with no message.
    void echo(const WHInvokedUrlCommand& command, Reply reply)
    {
        calls.push_back(command.callbackId().value_or("(none)"));
        reply.ok();
    }

    std::vector<bool> initialized; // each time, whether the plugin's links were set
    std::vector<std::string> calls;

protected:
    const ActionTable& actions() const override
    {
        static const ActionTable table = ActionTable().add("echo:", &RecordingPlugin::echo);
        return table;
    }
};

// A controller over the stand-ins with a configuration mapping the service "File" to the
// recording plugin and "Ghost" to a class that does not exist.
class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override { WHPluginFactory::registerClass<RecordingPlugin>(RecordingPlugin::kClassName); }

    // Over `platform` if given, else over the stand-ins.
    std::unique_ptr<WHViewController> makeController(const std::string& extraConfig = "", platform::Platform* platform = nullptr)
    {
        m_platform.environment.writeResource("config.xml",
            "<?xml version=\"1.0\"?><widget>"
            "<feature name=\"File\"><param name=\"osx-package\" value=\"TestRecordingPlugin\"/></feature>"
            "<feature name=\"Ghost\"><param name=\"osx-package\" value=\"NoSuchClass\"/></feature>"
                + extraConfig + "</widget>");
        auto vc = std::make_unique<WHViewController>(platform ? *platform : m_platform.platform);
        vc->setWebView(&m_webView);
        return vc;
    }

    TestPlatform m_platform;
    RecordingWebView m_webView;
    LogCapture m_log;
};

// A startup plugin is made as the page loads; every service name of its class, in any case, then
// reaches that one instance.
TEST_F(BridgeTest, ServiceNamesOfAnyCaseReachTheOneInstanceOfTheirClassInitialisedOnceWithItsLinksSet)
{
    auto vc = makeController("<feature name=\"Early\"><param name=\"osx-package\" value=\"TestRecordingPlugin\"/>"
                             "<param name=\"onload\" value=\"true\"/></feature>");
    // An unknown service is silent; a mapped class that does not exist is logged every time.
    for (const char* name : { "Nobody", "Ghost", "GHOST" })
        EXPECT_EQ(vc->getCommandInstance(name), nullptr) << name;
    EXPECT_EQ(m_log.lines(),
        (std::vector<std::string> { "WHPlugin class NoSuchClass (pluginName: Ghost) does not exist.",
            "WHPlugin class NoSuchClass (pluginName: GHOST) does not exist." }));
    m_platform.environment.writeResource("www/index.html", "<html></html>");
    vc->awakeFromNib();
    WHPlugin* created = vc->pluginRegistry().pluginObject(RecordingPlugin::kClassName);
    ASSERT_NE(created, nullptr);
    for (const char* name : { "early", "File", "FILE" })
        EXPECT_EQ(vc->getCommandInstance(name), created) << name;
    EXPECT_EQ(vc->commandDelegate()->getCommandInstance("fIlE"), created);
    auto& plugin = static_cast<RecordingPlugin&>(*created);
    EXPECT_EQ(plugin.initialized, std::vector<bool> { true });
    EXPECT_EQ(plugin.webView(), &m_webView);
}

// A call that reaches no action is still answered: an error status and a text naming what was wrong,
// through the same native callback as every result; one asking for no answer gets none. An unknown
// service or action is answered end to end, where the page reads the same texts.
TEST_F(BridgeTest, CallsThatRunNoActionAreAnsweredWithWhy)
{
    auto vc = makeController();
    using P = WHBridge::Permission;
    const std::string refused = expression("cb", 3, "\n  \"a frame of https://else.example may not call native code\"\n", 0);
    // The arguments of File.echo, and the refusal of a call too large for the channel (whose size is
    // told only to a frame that may call native code).
    const std::tuple<Value, const char*, P, std::string> cases[]
        = { { Value("text"), nullptr, P::Allowed, expression("cb", 8, "\n  \"the arguments of File.echo are not an array\"\n", 0) },
              { Value::array(), nullptr, P::Refused, refused }, { Value::array(), "too large", P::Refused, refused },
              { Value::array(), "too large", P::Allowed, expression("cb", 9, "\n  \"too large\"\n", 0) } };
    std::vector<std::string> answers;
    for (const auto& [arguments, tooLarge, permission, answer] : cases) {
        platform::WindowObject window;
        WHBridge bridge(&m_webView, vc.get(), window, permission, "https://else.example");
        if (tooLarge) {
            bridge.execRefused(Value("cb"), tooLarge);
        } else {
            bridge.exec(Value("cb"), Value("File"), Value("echo"), arguments);
            bridge.exec(Value("INVALID"), Value("File"), Value("echo"), arguments);
        }
        answers.push_back(answer);
    }
    m_platform.scheduler.runPending();
    EXPECT_EQ(m_webView.scripts(), answers);
    auto* plugin = dynamic_cast<RecordingPlugin*>(vc->getCommandInstance("File"));
    ASSERT_NE(plugin, nullptr);
    EXPECT_TRUE(plugin->calls.empty());
}

// Results are evaluated on a later turn while the delegate is there, each in the document whose call
// it answers, as its bridge knows it: whatever id a page writes names no other document, and reaches
// the page escaped.
TEST_F(BridgeTest, ResultsAreEvaluatedLaterWhileTheDelegateIsThereOnlyInTheDocumentThatAskedAndTheirIdIsOneStringLiteral)
{
    const std::pair<std::string, std::string> cases[]
        = { { "cb-1_2.3:4/5@x#y a(b)[c]{d}$%&*+,;=?~|^!\"<>", "cb-1_2.3:4/5@x#y a(b)[c]{d}$%&*+,;=?~|^!\"<>" },
              { "x');alert(1);//", "x\\');alert(1);//" }, { "back\\slash", "back\\\\slash" }, { "line\nbreak\r\t", "line\\nbreak\\r\\t" },
              { "sep\u2028para\u2029", "sep\\u2028para\\u2029" }, { std::string("ctl\x01\x7F\0", 6), "ctl\\x01\\x7F\\x00" }, { "é😀", "é😀" },
              { "bad\xC3", "bad\\uFFFD" } };
    for (const auto& [id, literal] : cases)
        EXPECT_EQ(WHCommandDelegateImpl::escapeForSingleQuotedLiteral(id), literal) << literal;

    auto vc = makeController();
    auto* delegate = vc->commandDelegate();
    auto result = WHPluginResult::resultWithStatus(CommandStatus::OK, "ok");
    result.setKeepCallbackAsBool(true);
    delegate->sendPluginResult(result, WHCallbackAddress { 0, "File124" });
    delegate->sendPluginResult(result, WHCallbackAddress { 0, "INVALID" }); // the page wants no answer
    delegate->sendPluginResult(WHPluginResult(9, Value(std::string("\xFF"))), WHCallbackAddress { 0, "cb" }); // no JSON form
    // Calls of File.echo, which answers with no message, from the documents 7, 8 and 0.
    const std::pair<std::uint64_t, Value> calls[]
        = { { 7, Value("a") }, { 7, Value("\0373\037b") }, { 8, Value(12) }, { 8, Value("INVALID") }, { 0, Value("c") } };
    for (const auto& [context, id] : calls) {
        platform::WindowObject window;
        window.contextId = context;
        WHBridge(&m_webView, vc.get(), window).exec(id, Value("File"), Value("echo"), Value::array());
    }
    EXPECT_TRUE(m_webView.scripts().empty());

    EXPECT_EQ(m_platform.scheduler.runPending(), 6u);
    const std::string null = "\n  null\n";
    EXPECT_EQ(m_webView.answerContexts, (std::vector<std::uint64_t> { 0, 0, 7, 7, 8, 0 }));
    EXPECT_EQ(m_webView.scripts(),
        (std::vector { expression("File124", 1, "\n  \"ok\"\n", 1), expression("cb", 9, "null", 0), expression("a", 1, null, 0),
            expression("\\x1F3\\x1Fb", 1, null, 0), expression("12", 1, null, 0), expression("c", 1, null, 0) }));
    ASSERT_EQ(m_log.lines().size(), 1u);
    EXPECT_EQ(m_log.lines()[0].rfind("the result for callback cb cannot be written as JSON (", 0), 0u) << m_log.lines()[0];

    // An evaluation scheduled before the delegate went does nothing when its turn comes.
    delegate->sendPluginResult(result, WHCallbackAddress { 0, "late" });
    vc.reset();
    EXPECT_EQ(m_platform.scheduler.runPending(), 1u);
    EXPECT_EQ(m_webView.scripts().size(), 6u);
}

// Real threads (the point under ThreadSanitizer): results sent from background blocks and from the
// main thread are all evaluated on the main thread. A sender's answers keeping their order is
// checked end to end.
TEST_F(BridgeTest, ResultsFromManyThreadsAreEvaluatedOnTheMainThread)
{
    platform::GLibWorkQueue workQueue;
    platform::Platform platform { m_platform.scheduler, workQueue, m_platform.environment, m_platform.userDefaults };
    auto vc = makeController("", &platform);
    auto* delegate = vc->commandDelegate();

    constexpr int kBlocks = 8, kPerBlock = 50;
    const auto ok = WHPluginResult::resultWithStatus(CommandStatus::OK);
    std::latch sent(kBlocks + 1);
    for (int b = 0; b < kBlocks; ++b)
        delegate->runInBackground([delegate, &sent, &ok] {
            for (int k = 0; k < kPerBlock; ++k)
                delegate->sendPluginResult(ok, WHCallbackAddress { 0, "t" });
            sent.count_down();
        });
    // One send that happens-after a background send must be evaluated after it.
    delegate->runInBackground([delegate, &sent, &ok] {
        delegate->sendPluginResult(ok, WHCallbackAddress { 0, "before" });
        sent.count_down();
    });
    sent.wait();
    delegate->sendPluginResult(ok, WHCallbackAddress { 0, "after" });

    EXPECT_TRUE(m_webView.scripts().empty()) << "evaluated by a sender, not by the main loop";
    EXPECT_EQ(m_platform.scheduler.runPending(), size_t(kBlocks * kPerBlock + 2));
    const auto scripts = m_webView.scripts();
    auto position = [&](const char* id) { return std::find(scripts.begin(), scripts.end(), expression(id, 1, "\n  null\n", 0)); };
    EXPECT_LT(position("before"), position("after"));
}

// At shutdown a background block either ends before the delegate (and the controller it reaches)
// has gone, or does not start. Under AddressSanitizer a late block would read freed memory.
TEST_F(BridgeTest, BackgroundWorkAtShutdownEndsBeforeTheDelegateGoesOrNeverStarts)
{
    auto vc = makeController();
    auto* delegate = vc->commandDelegate();
    std::promise<void> started;
    std::atomic<bool> finished = false, lateRan = false;
    delegate->runInBackground([delegate, &started, &finished] {
        started.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        delegate->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK), WHCallbackAddress { 0, "running" });
        finished = true;
    });
    delegate->runInBackground([delegate, &lateRan] {
        lateRan = true;
        delegate->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK), WHCallbackAddress { 0, "queued" });
    });
    auto& tasks = m_platform.workQueue.tasks;
    ASSERT_EQ(tasks.size(), 2u);
    std::thread worker(std::move(tasks[0]));
    started.get_future().wait();
    vc.reset();
    EXPECT_TRUE(finished) << "the running block ends before the delegate goes";
    worker.join();
    tasks[1]();
    EXPECT_FALSE(lateRan) << "a block that had not started is dropped";
}

// An answer an action wrote as JSON text reaches the channel as that text, small or large (over
// 1 MiB it leaves without a script form, as the text itself); one
// over the answer size limit becomes an error the page hears instead.
TEST_F(BridgeTest, AnswersWrittenAsTextLeaveAsThatText)
{
    m_webView.encodedAnswers = true;
    auto vc = makeController();
    auto* delegate = vc->commandDelegate();
    const std::string large = "[" + std::string(1 << 20, ' ') + "\"x\"]";
    const std::size_t limit = WHCommandDelegateImpl::setMaxResultSizeForTesting(0), under = large.size() - 1;
    // The text, the size limit, and the status and message as the page reads them.
    const std::tuple<std::string, std::size_t, std::int32_t, std::string> cases[] = { { "[1,2]", limit, 1, "\n  [1,2]\n" },
        { large, limit, 1, large }, { large, under, 9, "\n  \"the result is larger than " + std::to_string(under) + " bytes\"\n" } };
    for (const auto& [text, maxSize, status, message] : cases) {
        WHCommandDelegateImpl::setMaxResultSizeForTesting(maxSize);
        m_webView.payloads.clear();
        delegate->sendPluginResult(
            WHPluginResult::resultWithStatusMessageAsJSONText(CommandStatus::OK, text), WHCallbackAddress { 3, "cb" });
        m_platform.scheduler.runPending();
        ASSERT_EQ(m_webView.payloads.size(), 1u);
        auto answer = channel::decode<channel::CallbackAnswer>(m_webView.payloads[0]);
        ASSERT_TRUE(answer);
        EXPECT_EQ(std::tuple(answer->callbackId, answer->status, answer->messageJson), std::tuple("cb", status, message));
    }
    WHCommandDelegateImpl::setMaxResultSizeForTesting(limit);
}

} // namespace
