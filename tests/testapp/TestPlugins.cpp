// Test-only plugins and the scripted dialogs of the end-to-end test build of the app.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "bridge/WHCommandDelegate.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "bridge/WHPluginResult.h"
#include "base/Format.h"
#include "base/Log.h"
#include "platform/gtk/GtkApplicationHost.h"
#include "platform/gtk/GtkChannelServer.h"
#include "ScriptedDialogs.h"

namespace penwick::testapp {
namespace {

std::string hex(const Bytes& bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

// Echoes and counts, so that pages can see what reached the host and when.
class WHTestEcho final : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    const std::string& className() const override
    {
        static const std::string s_name = "WHTestEcho";
        return s_name;
    }

    // Answers its first argument; logs what arrived so tests can check the conversion.
    void echo(const WHInvokedUrlCommand& command)
    {
        Value arg = command.argumentAtIndex(0, Value());
        if (arg.is_binary())
            log::message(format("echo: %@ bytes %@", arg.get_binary().size(), hex(arg.get_binary())));
        else
            log::message(format("echo: %@", arg.dump()));
        answer(command, WHPluginResult(static_cast<std::int32_t>(CommandStatus::OK), arg));
    }

    // For measuring: does nothing, or answers its first argument, without logging.
    void noop(const WHInvokedUrlCommand&) { }
    void ping(const WHInvokedUrlCommand& command)
    {
        answer(command, WHPluginResult(static_cast<std::int32_t>(CommandStatus::OK), command.argumentAtIndex(0, Value())));
    }

    // Counts calls; the count is the answer and is logged inside the call.
    void count(const WHInvokedUrlCommand& command)
    {
        ++m_count;
        log::message(format("count: %@", m_count));
        answer(command, WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, m_count));
    }

    // Blocks the main loop for the given milliseconds before answering: the page waits as long.
    void sleep(const WHInvokedUrlCommand& command)
    {
        auto ms = command.argumentAtIndex(0, Value(0)).get<long>();
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        answer(command, WHPluginResult::resultWithStatus(CommandStatus::OK));
    }

    // Three answers for one call: two kept, the last one final.
    void repeat(const WHInvokedUrlCommand& command)
    {
        for (int i = 1; i <= 3; ++i) {
            auto result = WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, i);
            result.setKeepCallback(i < 3 ? KeepCallback::Yes : KeepCallback::No);
            answer(command, result);
        }
    }

    // Its byte-buffer argument back with the text "tail", as several values.
    void multipart(const WHInvokedUrlCommand& command)
    {
        Value arg = command.argumentAtIndex(0, Value());
        ValueArray parts { arg, Value("tail") };
        answer(command, WHPluginResult::resultWithStatusMessageAsMultipart(CommandStatus::OK, parts));
    }

    // Has the page evaluate a script that does not parse, then answers.
    void evalBroken(const WHInvokedUrlCommand& command)
    {
        commandDelegate()->evalJs("this is not ) script");
        answer(command, WHPluginResult::resultWithStatus(CommandStatus::OK, "after broken"));
    }

    void fail(const WHInvokedUrlCommand& command)
    {
        answer(command, WHPluginResult::resultWithStatus(CommandStatus::Error, "boom"));
    }

    // Answers from background work.
    void background(const WHInvokedUrlCommand& command)
    {
        auto id = command.callbackId().value_or("INVALID");
        auto* delegate = commandDelegate();
        delegate->runInBackground([delegate, id] {
            delegate->sendPluginResult(WHPluginResult::resultWithStatus(CommandStatus::OK, "from background"), id);
        });
    }

protected:
    const ActionTable& actions() const override
    {
        static const ActionTable s_actions = ActionTable()
                                                 .add("echo:", &WHTestEcho::echo)
                                                 .add("count:", &WHTestEcho::count)
                                                 .add("noop:", &WHTestEcho::noop)
                                                 .add("ping:", &WHTestEcho::ping)
                                                 .add("sleep:", &WHTestEcho::sleep)
                                                 .add("repeat:", &WHTestEcho::repeat)
                                                 .add("multipart:", &WHTestEcho::multipart)
                                                 .add("fail:", &WHTestEcho::fail)
                                                 .add("evalBroken:", &WHTestEcho::evalBroken)
                                                 .add("background:", &WHTestEcho::background);
        return s_actions;
    }

private:
    void answer(const WHInvokedUrlCommand& command, const WHPluginResult& result)
    {
        commandDelegate()->sendPluginResult(result, command.callbackId().value_or("INVALID"));
    }

    int m_count = 0;
};

} // namespace

void registerTestPlugins()
{
    WHPluginFactory::registerClass<WHTestEcho>("WHTestEcho");
    // Lets end-to-end tests reach the page channel's size limit without moving 256 MiB.
    if (const char* limit = g_getenv("PENWICK_TEST_CHANNEL_LIMIT"))
        platform::GtkChannelServer::shared().setMaxPayloadForTesting(std::strtoull(limit, nullptr, 10));
    if (auto dialogs = ScriptedDialogs::fromEnvironment())
        platform::GtkApplicationHost::setDialogsForTesting(std::move(dialogs));
}

} // namespace penwick::testapp
