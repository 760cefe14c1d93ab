// Test-only plugins and the scripted dialogs of the end-to-end test build of the app.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <thread>

#include "app/Application.h"
#include "bridge/WHCommandDelegate.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPlugin.h"
#include "bridge/WHPluginResult.h"
#include "base/Format.h"
#include "base/Log.h"
#include "platform/Dialogs.h"
#include "platform/UrlOpener.h"
#include "platform/gtk/GtkApplicationHost.h"
#include "platform/gtk/GtkChannelServer.h"

namespace penwick::testapp {
namespace {

// A count the page passed, within `limit`; anything else is 0.
std::uint64_t countArgument(const WHInvokedUrlCommand& command, std::size_t index, std::uint64_t limit)
{
    Value count = command.argumentAtIndex(index, Value(0));
    return count.is_number_unsigned() ? std::min(count.get<std::uint64_t>(), limit) : 0;
}

// Echoes and counts, so that pages can see what reached the host and when.
class WHTestEcho final : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    static inline const std::string kClassName = "WHTestEcho";
    const std::string& className() const override { return kClassName; }

    // Answers its first argument; logs what arrived so tests can check the conversion (byte
    // buffers as {"bytes":[...],"subtype":null}).
    void echo(const WHInvokedUrlCommand& command, Reply reply)
    {
        Value arg = command.argumentAtIndex(0, Value());
        log::message(format("echo: %@", arg.dump()));
        reply.ok(arg);
    }

    // For measuring: does nothing, or answers its first argument, without logging.
    void noop(const WHInvokedUrlCommand&, Reply reply) { reply.none(); }
    void ping(const WHInvokedUrlCommand& command, Reply reply) { reply.ok(command.argumentAtIndex(0, Value())); }

    // Counts calls; the count is the answer and is logged inside the call.
    void count(const WHInvokedUrlCommand&, Reply reply)
    {
        log::message(format("count: %@", ++m_count));
        reply.send(WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, m_count));
    }

    // Three answers for one call: two kept, the last one final.
    void repeat(const WHInvokedUrlCommand&, Reply reply)
    {
        for (int i = 1; i < 3; ++i)
            reply.keep(WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, i));
        reply.send(WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, 3));
    }

    // Its byte-buffer argument back with the text "tail", as several values.
    void multipart(const WHInvokedUrlCommand& command, Reply reply)
    {
        ValueArray parts { command.argumentAtIndex(0, Value()), Value("tail") };
        reply.send(WHPluginResult::resultWithStatusMessageAsMultipart(CommandStatus::OK, parts));
    }

    // An ArrayBuffer of the given length (byte i is i % 256): answers larger than the call.
    void bytes(const WHInvokedUrlCommand& command, Reply reply)
    {
        const std::size_t length = countArgument(command, 0, 1u << 30);
        // Made at memory speed, so that a benchmark of answers measures the answer, not this: the
        // test app is built without optimisation, where a loop of 256-byte inserts took 14 ms of
        // 16 MiB; the pattern is doubled by the library's memcpy instead (2 ms).
        Bytes out(length);
        for (std::size_t i = 0; i < 256 && i < length; ++i)
            out[i] = static_cast<std::uint8_t>(i);
        for (std::size_t filled = 256; filled < length; filled *= 2)
            std::memcpy(out.data() + filled, out.data(), std::min(filled, length - filled));
        reply.send(WHPluginResult::resultWithStatusMessageAsArrayBuffer(CommandStatus::OK, std::move(out)));
    }

    // Answers late, from background work: after argument 1 milliseconds, an ArrayBuffer of
    // argument 0 bytes, then the text "late". The page may have gone meanwhile.
    void later(const WHInvokedUrlCommand& command, Reply reply)
    {
        const std::size_t bytes = countArgument(command, 0, 1u << 28);
        const auto ms = static_cast<int>(countArgument(command, 1, 60000));
        commandDelegate()->runInBackground([reply = std::make_shared<Reply>(std::move(reply)), bytes, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            reply->keep(WHPluginResult::resultWithStatusMessageAsArrayBuffer(CommandStatus::OK, Bytes(bytes, 7)));
            reply->ok("late");
        });
    }

    // Asks "Confirm" with the first argument as a real modal question while the page waits inside
    // this call. Meanwhile background work answers the call every 20 ms (kept answers 1, 2, ...)
    // and counts the main loop's turns; after the question the answer is "ok" or "cancel", last.
    void modal(const WHInvokedUrlCommand& command, Reply reply)
    {
        auto shared = std::make_shared<Reply>(std::move(reply));
        auto& scheduler = context().scheduler();
        auto stop = std::make_shared<std::atomic<bool>>(false);
        auto turns = std::make_shared<int>(0); // main thread only
        auto ticker = std::make_shared<std::promise<int>>();
        commandDelegate()->runInBackground([shared, &scheduler, stop, turns, ticker] {
            int tick = 0;
            while (!stop->load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                shared->keep(WHPluginResult::resultWithStatusMessageAsInt(CommandStatus::OK, ++tick));
                scheduler.post([turns] {
                    // The test answers the question once this much has happened behind it.
                    if (++*turns == 3)
                        log::message("modal: answers arrive while asking");
                });
            }
            ticker->set_value(tick);
        });
        log::message("modal: asking");
        // The app always provides dialogs.
        bool ok = context().service<platform::Dialogs>()->runConfirm(command.argumentAtIndex(0, Value("")).get<std::string>());
        stop->store(true);
        log::message(format("modal: %@ after %@ ticks, %@ main loop turns", ok ? "ok" : "cancel", ticker->get_future().get(), *turns));
        shared->ok(ok ? "ok" : "cancel");
    }

protected:
    const ActionTable& actions() const override
    {
        static const ActionTable s_actions = ActionTable()
                                                 .add("echo:", &WHTestEcho::echo)
                                                 .add("count:", &WHTestEcho::count)
                                                 .add("noop:", &WHTestEcho::noop)
                                                 .add("ping:", &WHTestEcho::ping)
                                                 .add("repeat:", &WHTestEcho::repeat)
                                                 .add("multipart:", &WHTestEcho::multipart)
                                                 .add("bytes:", &WHTestEcho::bytes)
                                                 .add("later:", &WHTestEcho::later)
                                                 .add("modal:", &WHTestEcho::modal);
        return s_actions;
    }

private:
    int m_count = 0;
};

// Answers the page's questions from the script in PENWICK_TEST_DIALOGS instead of asking anyone:
// answers separated by ";", used in order: "ok" / "cancel" (confirm, leave-page question, alert),
// "text:ANSWER" (prompt confirmed with ANSWER, may be empty), "files:/a|/b" (open panel confirmed
// with these paths). A missing answer counts as "cancel". Every question is logged as "dialog KIND: ...".
class ScriptedDialogs final : public platform::Dialogs {
public:
    explicit ScriptedDialogs(const std::string& script) : m_script(script) { }
    void runAlert(const std::string& message, const platform::DialogAsker&) override { (void)ask("alert", message); }
    bool runConfirm(const std::string& message, const platform::DialogAsker&) override { return ask("confirm", message) == "ok"; }
    std::optional<std::string> runPrompt(const std::string& message, const std::string& defaultText, const platform::DialogAsker&) override
    {
        std::string answer = ask("prompt", format("%@ [%@]", message, defaultText));
        return answer.starts_with("text:") ? std::optional(answer.substr(5)) : std::nullopt;
    }
    std::optional<std::vector<std::string>> runOpenPanel(
        platform::AllowMultipleFiles multiple, const std::vector<std::string>& accept, const platform::DialogAsker&) override
    {
        std::string accepted;
        for (const auto& type : accept)
            accepted += " " + type;
        std::string answer = ask("open", format("multiple %@", multiple == platform::AllowMultipleFiles::Yes ? "yes" : "no") + accepted);
        if (!answer.starts_with("files:"))
            return std::nullopt;
        g_auto(GStrv) paths = g_strsplit(answer.c_str() + 6, "|", -1);
        return std::vector<std::string>(paths, paths + g_strv_length(paths));
    }

private:
    // Logs the question; its answer from the script.
    std::string ask(const char* kind, const std::string& question)
    {
        log::message(format("dialog %@: %@", kind, question));
        std::string answer;
        return std::getline(m_script, answer, ';') ? answer : "cancel";
    }
    std::istringstream m_script;
};

// Logs the URLs the app hands to the system instead of launching a browser; stderr gets them
// whole, as the desktop would (the log keeps no query values).
class RecordingUrlOpener final : public platform::UrlOpener {
public:
    void openURL(const std::string& url) override
    {
        log::message("system opens " + url);
        std::fprintf(stderr, "desktop stand-in got %s\n", url.c_str());
    }
};

} // namespace

void registerTestPlugins(Application& application, platform::GtkApplicationHost& host)
{
    WHPluginFactory::registerClass<WHTestEcho>(WHTestEcho::kClassName);
    // Lets end-to-end tests reach the page channel's size limit without moving 256 MiB.
    if (const char* limit = g_getenv("PENWICK_TEST_CHANNEL_LIMIT"))
        host.channelServer().setMaxPayloadForTesting(std::strtoull(limit, nullptr, 10));
    if (const char* script = g_getenv("PENWICK_TEST_DIALOGS"))
        application.setDialogsForTesting(std::make_unique<ScriptedDialogs>(script));
    if (g_getenv("PENWICK_TEST_RECORD_URLS"))
        application.setUrlOpenerForTesting(std::make_unique<RecordingUrlOpener>());
}

} // namespace penwick::testapp
