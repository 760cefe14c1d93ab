// The page and the host meeting in the real app under Xvfb: the bridge, the console, dialogs,
// the native-ready notice and recovery from a lost web process.
#include <csignal>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <glib.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

namespace {

// Starts the test app on `page` of the bridge pages and waits for the page's DONE.
void runPage(AppRunner& app, const std::string& page)
{
    app.writePages("bridge", page);
    app.start();
    ASSERT_TRUE(app.waitForLine(": DONE", 20s)) << app.output();
}

TEST(Bridge, CallsAnswersAndByteBuffersBetweenThePageAndTheActions)
{
    AppRunner app(AppRunner::Binary::TestApp);
    runPage(app, "calls.html");
    EXPECT_EQ(app.missingLogLines({ "members: exec webView: undefined", "waited for the action: true", "result hi after return: true",
                  "repeat 1,2,3 pending 0", "failed with boom", "background answered from background", "count is 2",
                  "back: true 0,1,2", "multipart: true 8,7 tail", "lone surrogate: true",
                  "deep call failed: the arguments are nested more than 1000 levels deep", "all bytes: true true tail empty 0",
                  "from markers: true tail", "answers in order: true 216" }),
        Lines {}) << app.output();
    // The action's own log line comes before the page's next statement.
    int counted = app.indexOfLogLine("count: 1");
    ASSERT_GE(counted, 0) << app.output();
    EXPECT_LT(counted, app.indexOfLogLine("after first count")) << app.output();
    // An ArrayBuffer and a marker written by hand arrive as the same bytes.
    EXPECT_EQ(app.countLines("echo: 3 bytes 000102"), 2) << app.output();
}

TEST(Bridge, EveryFrameGetsItsOwnBridgeHelpersAndReadyNoticeAndDispatchFailuresAreLoggedWhileThePageGoesOn)
{
    AppRunner app(AppRunner::Binary::TestApp);
    runPage(app, "frames.html");
    const std::string notFound = "not found, or is not a WHPlugin. Check your plugin mapping in config.xml.";
    EXPECT_EQ(app.missingLogLines({ "echo: \"from frame a\"", "three distinct bridges: true", "sub-frame told ready: true",
                  "keys: [\"zeta\",\"alpha\"] [\"a\",\"b\"]", "ERROR: Plugin 'NoSuchService' " + notFound,
                  "ERROR: Method 'nosuch:' not defined in Plugin 'Echo'", "ERROR: Plugin '' " + notFound,
                  "ERROR: Classname and/or methodName not found for command.", "page goes on" }),
        Lines {}) << app.output();
    // Arguments that are not an array (a text, none at all, or not representable) run no action:
    // the one echo is the sub-frame's.
    EXPECT_TRUE(AppRunner::waitUntil([&] { return app.countLines("ERROR: Arguments of 'Echo.echo' are not an array; the call was dropped.") == 3; }, 5s))
        << app.output();
    EXPECT_EQ(app.countLines(": echo:"), 1) << app.output();
}

TEST(Console, TheHostConsoleLogsSixKindsOfLinesScriptErrorsAndNavigations)
{
    AppRunner app(AppRunner::Binary::TestApp);
    runPage(app, "console.html");
    EXPECT_EQ(app.missingLogLines({ "plain", "trace: t", "debug: d", "info: 42", "warn: x", "error: 1", "<null>", "{\"a\":[1,\"two\"]}",
                  "1.5", "undefined", "has table: undefined", "JavaScript error: console.html:13: Error: boom",
                  "navigating to file://" + app.resourcesDir() + "/www/console.html" }),
        Lines {}) << app.output();
}

TEST(Console, WithDeveloperExtrasThePageKeepsTheEngineConsole)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writeUserDefault("WebKitDeveloperExtras", "true");
    runPage(app, "console.html");
    EXPECT_EQ(app.missingLogLines({ "JavaScript error: console.html:6: x", "JavaScript error: console.html:12: has table: function" }),
        Lines {}) << app.output();
    EXPECT_FALSE(app.hasLogLine("warn: x")) << app.output();
}

TEST(Dialogs, ScriptedAnswersAndChosenFilesReachThePage)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writePages("bridge", "dialogs.html");
    app.writeResource("../picked/a.txt", "a");
    app.writeResource("../picked/b.txt", "b");
    app.setEnv("PENWICK_TEST_DIALOGS", ("ok;ok;cancel;text:abc;text:;cancel;files:" + app.path("picked/a.txt") + "|" + app.path("picked/b.txt")));
    app.start();
    ASSERT_TRUE(app.waitForLine(": ready to pick", 20s)) << app.output();
    // A file input opens only on a user's click.
    ASSERT_TRUE(app.onWindow("Penwick", "mousemove --window %1 100 100 click 1"));
    EXPECT_EQ(app.missingLogLines({ "dialog alert: hello", "confirm ok: true", "confirm cancel: false", "dialog prompt: name? [def]",
                  "prompt text: \"abc\"", "prompt empty: \"\"", "prompt cancel: null", "dialog open: multiple yes", "chosen: a.txt,b.txt" }),
        Lines {}) << app.output();
}

// The page asks whether to leave; the first answer stays, the second leaves.
TEST(Dialogs, TheLeavePageQuestionDecidesWhetherThePageIsLeft)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writePages("bridge", "leave.html", { "left.html" });
    app.setEnv("PENWICK_TEST_DIALOGS", "cancel;ok");
    app.start();
    ASSERT_TRUE(app.waitForLine(": ready to leave", 20s)) << app.output();
    const std::string click = "mousemove --window %1 100 100 click 1";
    ASSERT_TRUE(app.onWindow("Penwick", click));
    ASSERT_TRUE(app.waitForLine(": still here", 10s)) << app.output();
    EXPECT_EQ(app.countLines("left the page"), 0) << app.output();
    // Under load a click can land before the window takes input again; click until the page
    // has seen a second one.
    for (int attempt = 0; attempt < 5 && app.countLines(": clicked") < 2; ++attempt) {
        (void)app.onWindow("Penwick", click);
        (void)AppRunner::waitUntil([&] { return app.countLines(": clicked") >= 2; }, 2s);
    }
    ASSERT_TRUE(app.waitForLine(": left the page", 10s)) << app.output();
    EXPECT_EQ(app.countLines("dialog confirm: "), 2) << app.output();
}

// Connects to the app's page channel (in its temporary folder), writes a frame of `header` and
// `payload`, and sees the host close the connection.
bool writeToChannel(const AppRunner& app, std::vector<std::uint32_t> header, const std::string& payload = {})
{
    std::string socketPath, tmp = app.path("tmp");
    if (GDir* dir = g_dir_open(tmp.c_str(), 0, nullptr)) {
        while (const char* name = g_dir_read_name(dir)) {
            if (g_str_has_prefix(name, "penwick-"))
                socketPath = tmp + "/" + name + "/bridge";
        }
        g_dir_close(dir);
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    header.resize(6);
    std::string bytes = std::string(reinterpret_cast<const char*>(header.data()), 24) + payload;
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    char c;
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && read(fd, &c, 1) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

TEST(Recovery, StrangersOnThePageChannelAreTurnedAwayAndAKilledWebProcessIsReplaced)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writePages("bridge", "reload.html");
    app.start();
    ASSERT_TRUE(app.waitForLine(": READY 1", 20s)) << app.output();
    // No token; a well-formed frame whose JSON has the wrong types; a header no version writes.
    const std::string wrongHello = "{\"version\":1,\"token\":\"guess\",\"pid\":1}", oddHello = "{\"version\":\"one\",\"token\":5}";
    EXPECT_TRUE(writeToChannel(app, { static_cast<std::uint32_t>(wrongHello.size()), 1 }, wrongHello));
    EXPECT_TRUE(writeToChannel(app, { static_cast<std::uint32_t>(oddHello.size()), 1 }, oddHello));
    EXPECT_TRUE(writeToChannel(app, { 0xffffffffu, 77 }));
    const std::string refused = "refused a connection to the page channel: ";
    for (const char* why : { "a process without the host's token", "the web process sent a frame the host does not understand",
             "the web process sent a frame the host cannot read" })
        EXPECT_TRUE(app.waitForLine(refused + why, 5s)) << app.output();
    // The page's own channel still works: the host reloads after losing the web process, and the
    // new page's calls reach the same plugin.
    auto processes = app.webProcesses();
    ASSERT_FALSE(processes.empty());
    for (pid_t pid : processes)
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(app.waitForLine(": READY 2", 20s)) << app.output();
    EXPECT_GE(app.countLines("reloading the page"), 1) << app.output();
}

TEST(Recovery, WithoutTheExtensionThePageStillLoadsAndTheHostSaysWhy)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writePages("bridge", "reload.html");
    setenv("PENWICK_WEB_EXTENSION_DIR", app.path("nowhere").c_str(), 1);
    app.start();
    unsetenv("PENWICK_WEB_EXTENSION_DIR");
    EXPECT_TRUE(app.waitForLine("the page loaded without the host's web-process extension (looked in " + app.path("nowhere") + "); it has no hostbridge", 20s))
        << app.output();
}

} // namespace
