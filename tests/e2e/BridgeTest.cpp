// The page and the host meeting in the real app under Xvfb: the bridge, the console, dialogs,
// the native-ready notice and recovery from a lost web process.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <dirent.h>
#include <glib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/bridge/";

// The test build of the app with the echo plugin mapped as "Echo", the page library, and `page`
// from the bridge test pages as its start page.
void preparePage(AppRunner& app, const std::string& page, const std::vector<std::string>& extraPages = {})
{
    app.writeConfig("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"t\">\n<content src=\"" + page
        + "\"/>\n<feature name=\"Echo\"><param name=\"osx-package\" value=\"WHTestEcho\"/></feature>\n</widget>\n");
    app.writeResource("www/webhost/webhost.js", AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/webhost/webhost.js"));
    app.writeResource("www/" + page, AppRunner::readFile(kPages + page));
    for (const auto& extra : extraPages)
        app.writeResource("www/" + extra, AppRunner::readFile(kPages + extra));
}

// Runs the page until it logs DONE; the app is then stopped.
void runUntilDone(AppRunner& app, std::chrono::milliseconds timeout = 20s)
{
    app.start();
    bool done = app.waitForLine(": DONE", timeout);
    // Give lines logged right after DONE a moment to arrive.
    std::this_thread::sleep_for(150ms);
    app.kill();
    ASSERT_TRUE(done) << app.output();
}

// Position of the first log line that is exactly `message`, or -1.
int indexOf(const AppRunner& app, const std::string& message)
{
    auto lines = app.lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        auto pos = lines[i].find(": " + message);
        if (lines[i].rfind("penwick-", 0) == 0 && pos != std::string::npos && pos + 2 + message.size() == lines[i].size())
            return static_cast<int>(i);
    }
    return -1;
}

// The web processes the app started (children named after the engine's web process).
std::vector<pid_t> webProcessesOf(pid_t parent)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent* entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        auto open = content.find('('), close = content.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::string name = content.substr(open + 1, close - open - 1);
        int ppid = std::atoi(content.c_str() + close + 4);
        if (ppid == parent && name.rfind("WebKitWebProces", 0) == 0)
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

TEST(Bridge, CallsReachTheActionInsideThePageCallAndAnswersComeAfterItReturned)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "calls.html");
    runUntilDone(app);
    EXPECT_TRUE(app.hasLogLine("members: exec webView: undefined")) << app.output();
    EXPECT_TRUE(app.hasLogLine("waited for the action: true")) << app.output();
    // The action's own log line comes before the page's next statement.
    int counted = indexOf(app, "count: 1"), after = indexOf(app, "after first count");
    ASSERT_GE(counted, 0) << app.output();
    EXPECT_LT(counted, after) << app.output();
    EXPECT_TRUE(app.hasLogLine("result hi after return: true")) << app.output();
    EXPECT_TRUE(app.hasLogLine("repeat 1,2,3 pending 0")) << app.output();
    EXPECT_TRUE(app.hasLogLine("failed with boom")) << app.output();
    EXPECT_TRUE(app.hasLogLine("background answered from background")) << app.output();
    EXPECT_TRUE(app.hasLogLine("count is 2")) << app.output();
}

TEST(Bridge, ManyAnswersArriveInOrderAndOneBadScriptCostsOnlyItself)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "results.html");
    runUntilDone(app);
    EXPECT_TRUE(app.hasLogLine("answers in order: true 201")) << app.output();
}

TEST(Bridge, ByteBuffersTravelAsArrayBuffersBothWays)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "bytes.html");
    runUntilDone(app);
    EXPECT_EQ(app.countLines("echo: 3 bytes 000102"), 2) << app.output();
    EXPECT_TRUE(app.hasLogLine("back: true 0,1,2")) << app.output();
    EXPECT_TRUE(app.hasLogLine("multipart: true 8,7 tail")) << app.output();
}

TEST(Bridge, DispatchFailuresAreLoggedAndThePageGoesOn)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "failures.html");
    runUntilDone(app);
    EXPECT_TRUE(app.hasLogLine(
        "ERROR: Plugin 'NoSuchService' not found, or is not a WHPlugin. Check your plugin mapping in config.xml."))
        << app.output();
    EXPECT_TRUE(app.hasLogLine("ERROR: Method 'nosuch:' not defined in Plugin 'Echo'")) << app.output();
    EXPECT_TRUE(app.hasLogLine("ERROR: Plugin '' not found, or is not a WHPlugin. Check your plugin mapping in config.xml."))
        << app.output();
    EXPECT_TRUE(app.hasLogLine("ERROR: Classname and/or methodName not found for command.")) << app.output();
    // Arguments that are not an array (a text, none at all, or not representable) run no action.
    EXPECT_EQ(app.countLines("ERROR: Arguments of 'Echo.echo' are not an array; the call was dropped."), 3) << app.output();
    EXPECT_EQ(app.countLines(": echo:"), 0) << app.output();
    EXPECT_TRUE(app.hasLogLine("page goes on")) << app.output();
}

TEST(Bridge, EveryFrameGetsItsOwnBridgeHelpersAndReadyNotice)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "frames.html");
    runUntilDone(app);
    EXPECT_TRUE(app.hasLogLine("echo: \"from frame a\"")) << app.output();
    EXPECT_TRUE(app.hasLogLine("three distinct bridges: true")) << app.output();
    EXPECT_TRUE(app.hasLogLine("sub-frame told ready: true")) << app.output();
    EXPECT_TRUE(app.hasLogLine("keys: [\"zeta\",\"alpha\"] [\"a\",\"b\"]")) << app.output();
}

TEST(Console, TheHostConsoleLogsSixKindsOfLinesAndScriptErrorsAreLogged)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "console.html");
    runUntilDone(app);
    for (const char* line : { "plain", "trace: t", "debug: d", "info: 42", "warn: x", "error: 1", "<null>",
             "{\"a\":[1,\"two\"]}", "1.5", "undefined", "has table: undefined" })
        EXPECT_TRUE(app.hasLogLine(line)) << line << "\n" << app.output();
    EXPECT_TRUE(app.hasLogLine("JavaScript error: console.html:15: Error: boom")) << app.output();
}

TEST(Console, WithDeveloperExtrasThePageKeepsTheEngineConsole)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writeUserDefault("WebKitDeveloperExtras", "true");
    preparePage(app, "console.html");
    runUntilDone(app);
    EXPECT_FALSE(app.hasLogLine("warn: x")) << app.output();
    EXPECT_TRUE(app.hasLogLine("JavaScript error: console.html:8: x")) << app.output();
    EXPECT_TRUE(app.hasLogLine("JavaScript error: console.html:14: has table: function")) << app.output();
}

TEST(WebViewDelegate, NavigationsAreLogged)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "console.html");
    runUntilDone(app);
    EXPECT_TRUE(app.hasLogLine("navigating to file://" + app.resourcesDir() + "/www/console.html")) << app.output();
}

TEST(Dialogs, ScriptedAnswersReachThePage)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "dialogs.html");
    setenv("PENWICK_TEST_DIALOGS", "ok;ok;cancel;text:abc;text:;cancel", 1);
    app.start();
    unsetenv("PENWICK_TEST_DIALOGS");
    bool done = app.waitForLine(": DONE", 20s);
    app.kill();
    ASSERT_TRUE(done) << app.output();
    EXPECT_TRUE(app.hasLogLine("dialog alert: hello")) << app.output();
    EXPECT_TRUE(app.hasLogLine("confirm ok: true")) << app.output();
    EXPECT_TRUE(app.hasLogLine("confirm cancel: false")) << app.output();
    EXPECT_TRUE(app.hasLogLine("dialog prompt: name? [def]")) << app.output();
    EXPECT_TRUE(app.hasLogLine("prompt text: \"abc\"")) << app.output();
    EXPECT_TRUE(app.hasLogLine("prompt empty: \"\"")) << app.output();
    EXPECT_TRUE(app.hasLogLine("prompt cancel: null")) << app.output();
}

bool xdotool(const std::string& args)
{
    return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(Dialogs, RealDialogsAreAnsweredWithTheKeyboard)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "realdialog.html");
    app.start();
    ASSERT_TRUE(app.waitForLine(": asking", 20s)) << app.output();
    // Return presses the default button, OK.
    ASSERT_TRUE(xdotool("search --sync --onlyvisible --pid " + std::to_string(app.pid()) + " --name '^Confirm$' windowfocus --sync %1 key --clearmodifiers Return"));
    ASSERT_TRUE(app.waitForLine("confirm answered", 10s)) << app.output();
    ASSERT_TRUE(xdotool("search --sync --onlyvisible --pid " + std::to_string(app.pid()) + " --name '^Prompt$' windowfocus --sync %1 key --clearmodifiers ctrl+a type xyz"));
    ASSERT_TRUE(xdotool("search --onlyvisible --pid " + std::to_string(app.pid()) + " --name '^Prompt$' windowfocus --sync %1 key --clearmodifiers Return"));
    bool done = app.waitForLine(": DONE", 10s);
    app.kill();
    ASSERT_TRUE(done) << app.output();
    EXPECT_TRUE(app.hasLogLine("confirm answered: true")) << app.output();
    EXPECT_TRUE(app.hasLogLine("prompt answered: \"xyz\"")) << app.output();
}

TEST(Dialogs, AFileInputGetsTheChosenFilesThroughTheOpenPanel)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "files.html");
    std::string a = app.path("picked/a.txt"), b = app.path("picked/b.txt");
    app.writeResource("../picked/a.txt", "a");
    app.writeResource("../picked/b.txt", "b");
    setenv("PENWICK_TEST_DIALOGS", ("files:" + a + "|" + b).c_str(), 1);
    app.start();
    unsetenv("PENWICK_TEST_DIALOGS");
    ASSERT_TRUE(app.waitForLine(": ready to pick", 20s)) << app.output();
    // A file input opens only on a user's click.
    ASSERT_TRUE(xdotool("search --sync --onlyvisible --pid " + std::to_string(app.pid()) + " --name '^Penwick$' mousemove --window %1 100 100 click 1"));
    bool done = app.waitForLine(": DONE", 10s);
    app.kill();
    ASSERT_TRUE(done) << app.output();
    EXPECT_TRUE(app.hasLogLine("dialog open: multiple yes")) << app.output();
    EXPECT_TRUE(app.hasLogLine("chosen: a.txt,b.txt")) << app.output();
}

// The page asks whether to leave; the first answer stays, the second leaves.
TEST(Dialogs, TheLeavePageQuestionDecidesWhetherThePageIsLeft)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "leave.html", { "left.html" });
    setenv("PENWICK_TEST_DIALOGS", "cancel;ok", 1);
    app.start();
    unsetenv("PENWICK_TEST_DIALOGS");
    ASSERT_TRUE(app.waitForLine(": ready to leave", 20s)) << app.output();
    const std::string click = "search --sync --onlyvisible --pid " + std::to_string(app.pid()) + " --name '^Penwick$' mousemove --window %1 100 100 click 1";
    ASSERT_TRUE(xdotool(click));
    ASSERT_TRUE(app.waitForLine(": still here", 10s)) << app.output();
    EXPECT_EQ(app.countLines("left the page"), 0) << app.output();
    // Under load a click can land before the window takes input again; click until the page
    // has seen a second one.
    for (int attempt = 0; attempt < 5 && app.countLines(": clicked") < 2; ++attempt) {
        (void)xdotool(click);
        for (int i = 0; i < 20 && app.countLines(": clicked") < 2; ++i)
            std::this_thread::sleep_for(100ms);
    }
    bool done = app.waitForLine(": DONE", 10s);
    app.kill();
    ASSERT_TRUE(done) << app.output();
    EXPECT_EQ(app.countLines("dialog confirm: "), 2) << app.output();
    EXPECT_TRUE(app.hasLogLine("left the page")) << app.output();
}

// Connects to the app's page channel (in its temporary folder) and writes `bytes`.
bool writeToChannel(const AppRunner& app, const std::string& bytes)
{
    std::string tmp = app.path("tmp");
    GDir* dir = g_dir_open(tmp.c_str(), 0, nullptr);
    if (!dir)
        return false;
    std::string socketPath;
    while (const char* name = g_dir_read_name(dir)) {
        if (std::string(name).rfind("penwick-", 0) == 0)
            socketPath = tmp + "/" + name + "/bridge";
    }
    g_dir_close(dir);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (fd >= 0) {
        char c;
        // The host closes the connection.
        ok = ok && read(fd, &c, 1) == 0;
        close(fd);
    }
    return ok;
}

TEST(Recovery, StrangersOnThePageChannelAreTurnedAwayAndThePageGoesOn)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "reload.html");
    app.start();
    ASSERT_TRUE(app.waitForLine(": READY 1", 20s)) << app.output();
    // No token, then a header no version of the channel writes.
    std::string hello;
    const char wrongHello[] = "{\"version\":1,\"token\":\"guess\",\"pid\":1}";
    std::uint32_t header[6] = { static_cast<std::uint32_t>(sizeof wrongHello - 1), 1, 0, 0, 0, 0 };
    hello.append(reinterpret_cast<const char*>(header), sizeof header);
    hello.append(wrongHello, sizeof wrongHello - 1);
    EXPECT_TRUE(writeToChannel(app, hello));
    // A well-formed frame whose JSON has the wrong types.
    const char oddHello[] = "{\"version\":\"one\",\"token\":5}";
    std::uint32_t oddHeader[6] = { static_cast<std::uint32_t>(sizeof oddHello - 1), 1, 0, 0, 0, 0 };
    std::string odd(reinterpret_cast<const char*>(oddHeader), sizeof oddHeader);
    odd.append(oddHello, sizeof oddHello - 1);
    EXPECT_TRUE(writeToChannel(app, odd));
    std::uint32_t garbage[6] = { 0xffffffffu, 77, 0, 0, 0, 0 };
    EXPECT_TRUE(writeToChannel(app, std::string(reinterpret_cast<const char*>(garbage), sizeof garbage)));
    // The page's own channel still works: a reload brings the bridge back as before.
    ASSERT_TRUE(app.waitForLine("refused a connection to the page channel: a process without the host's token", 5s))
        << app.output();
    EXPECT_TRUE(app.waitForLine("refused a connection to the page channel: the web process sent a frame the host does not understand", 5s))
        << app.output();
    EXPECT_TRUE(app.waitForLine("refused a connection to the page channel: the web process sent a frame the host cannot read", 5s))
        << app.output();
    for (pid_t pid : webProcessesOf(app.pid()))
        ::kill(pid, SIGKILL);
    bool again = app.waitForLine(": READY 2", 20s);
    app.kill();
    EXPECT_TRUE(again) << app.output();
}

TEST(Recovery, WithoutTheExtensionThePageStillLoadsAndTheHostSaysWhy)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "reload.html");
    setenv("PENWICK_WEB_EXTENSION_DIR", app.path("nowhere").c_str(), 1);
    app.start();
    unsetenv("PENWICK_WEB_EXTENSION_DIR");
    bool said = app.waitForLine("the page loaded without the host's web-process extension (looked in " + app.path("nowhere")
            + "); it has no hostbridge",
        20s);
    app.kill();
    EXPECT_TRUE(said) << app.output();
}

TEST(Recovery, AKilledWebProcessIsReplacedAndTheBridgeWorksAgain)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "reload.html");
    app.start();
    ASSERT_TRUE(app.waitForLine(": READY 1", 20s)) << app.output();
    auto processes = webProcessesOf(app.pid());
    ASSERT_FALSE(processes.empty());
    for (pid_t pid : processes)
        ::kill(pid, SIGKILL);
    // The host goes on, reloads, and the new page's calls reach the same plugin.
    bool again = app.waitForLine(": READY 2", 20s);
    app.kill();
    ASSERT_TRUE(again) << app.output();
    EXPECT_GE(app.countLines("reloading the page"), 1) << app.output();
}

} // namespace
