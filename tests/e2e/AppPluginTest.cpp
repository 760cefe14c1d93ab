// The application plugin, the popup window, the web-site menu actions and the in-app browser in
// the real app. URLs meant for the system browser are recorded by the test app, not opened.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/app/";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

// The test app with the three plugins mapped, the page library and `page` as the start page.
void preparePage(AppRunner& app, const std::string& page)
{
    app.writeConfig("<?xml version=\"1.0\"?>\n<widget id=\"t\"><content src=\"" + page + "\"/>"
        "<feature name=\"Penwick\"><param name=\"osx-package\" value=\"WHPenwick\"/></feature>"
        "<feature name=\"InAppBrowser\"><param name=\"osx-package\" value=\"WHInAppBrowser\"/></feature></widget>\n");
    for (const char* lib : { "webhost.js", "app.js" })
        app.writeResource(std::string("www/webhost/") + lib, AppRunner::readFile(std::string(PENWICK_SOURCE_DIR) + "/www/webhost/" + lib));
    app.writeResource("www/" + page, AppRunner::readFile(kPages + page));
}

// Starts the test app with the recording system opener.
void startRecording(AppRunner& app)
{
    setenv("PENWICK_TEST_RECORD_URLS", "1", 1);
    app.start();
    unsetenv("PENWICK_TEST_RECORD_URLS");
}

std::string xdotoolOutput(const std::string& args)
{
    std::string out;
    if (FILE* p = popen(("xdotool " + args + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, p))
            out += buffer;
        pclose(p);
    }
    return out;
}

bool xdotool(const std::string& args) { return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; }

// The app's windows titled like the popup's page, shown or all.
int popupWindows(const AppRunner& app, bool onlyVisible)
{
    std::string out = xdotoolOutput(std::string("search ") + (onlyVisible ? "--onlyvisible " : "") + "--all --pid "
        + std::to_string(app.pid()) + " --name '^inner$'");
    return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
}

bool popupShown(const AppRunner& app) { return popupWindows(app, true) > 0; }

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s)
{
    for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(100ms)) {
        if (condition())
            return true;
    }
    return condition();
}

TEST(AppPlugin, PopupHandsTheLandingURLToTheMainPageAndIsReused)
{
    const std::string landing = PENWICK_LOGIN_LANDING_URL;
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "popup.html");
    app.writeResource("www/inner.html", replaced(AppRunner::readFile(kPages + "inner.html"), "@LANDING@", landing));
    startRecording(app);
    ASSERT_TRUE(app.waitForLine(": ready", 20s)) << app.output();
    // Other targets than "_blank" go to the system, unchanged.
    for (const char* url : { "https://example.org/page?q=1", "https://example.org/other", "https://example.org/third" })
        EXPECT_TRUE(app.waitForLine(std::string("system opens ") + url, 5s)) << url;
    EXPECT_TRUE(app.hasLogLine("https://example.org/page?q=1..xxxx._system")) << app.output();

    ASSERT_TRUE(eventually([&] { return popupShown(app); })) << app.output();
    ASSERT_TRUE(app.waitForLine("first login", 10s)) << app.output();
    EXPECT_TRUE(eventually([&] { return !popupShown(app); }, 1500ms)) << "the popup stays after the landing page";

    ASSERT_TRUE(eventually([&] { return popupShown(app); })) << app.output();
    EXPECT_EQ(popupWindows(app, false), 1) << "a second window for the second open";
    bool done = app.waitForLine(": DONE", 10s);
    EXPECT_TRUE(eventually([&] { return !popupShown(app); }, 1500ms));
    app.kill();
    ASSERT_TRUE(done) << app.output();

    // The URL as the engine navigates to it: the quote of the query escaped by the engine, the
    // backslash and the fragment's quote as they were. No bridge in the popup.
    for (const char* step : { "1", "2" }) {
        std::string url = landing + "?code=x%27y\\z&bridge=undefined&step=" + step + "#f'\\g";
        EXPECT_TRUE(app.hasLogLine("url policy.............>>>>>>>>>>>>...." + url)) << app.output();
        EXPECT_TRUE(app.hasLogLine("snsLogin: " + url)) << app.output();
    }
}

TEST(AppPlugin, TheDocumentsMenuActionOpensTheDocumentsPageInTheSystemBrowser)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "inappbrowser.html");
    startRecording(app);
    ASSERT_TRUE(app.waitForLine(": DONE", 20s)) << app.output();
    ASSERT_TRUE(xdotool("search --sync --onlyvisible --all --pid " + std::to_string(app.pid()) + " --name '^Penwick$' windowfocus --sync %1 key --clearmodifiers F1"));
    bool opened = app.waitForLine(std::string("system opens ") + PENWICK_DOCUMENTS_URL, 10s);
    app.kill();
    EXPECT_TRUE(opened) << app.output();
}

TEST(AppPlugin, EveryInAppBrowserAnswerKeepsTheCallback)
{
    AppRunner app(AppRunner::Binary::TestApp);
    std::string store = PENWICK_STORE_HOST, upper = store;
    for (auto& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    preparePage(app, "inappbrowser.html");
    app.writeResource("www/inappbrowser.html",
        replaced(replaced(AppRunner::readFile(kPages + "inappbrowser.html"), "@STOREUPPER@", upper), "@STORE@", store));
    startRecording(app);
    bool done = app.waitForLine(": DONE", 20s);
    std::this_thread::sleep_for(200ms);
    app.kill();
    ASSERT_TRUE(done) << app.output();
    const std::string self = "\"Not Yet Implemented for OSX: [self openInHostWebView:absoluteUrl withOptions:options]\"";
    const std::string inApp = "\"Not Yet Implemented for OSX: [self openInInAppBrowser:absoluteUrl withOptions:options]\"";
    const struct {
        const char* id;
        std::string answer;
    } cases[] = {
        { "none", "9 \"incorrect number of arguments\" keep=1" },
        { "self", "9 " + self + " keep=1" },
        { "system", "1 null keep=1" },
        { "blank", "9 " + inApp + " keep=1" },
        { "store", "1 null keep=1" },
        { "storecase", "9 " + inApp + " keep=1" },
    };
    for (const auto& c : cases)
        EXPECT_TRUE(app.hasLogLine(std::string("answer IAB-") + c.id + ": " + c.answer)) << c.id << "\n" << app.output();
    EXPECT_TRUE(app.hasLogLine("system opens https://example.org/b"));
    EXPECT_TRUE(app.hasLogLine("system opens https://" + store + "/app"));
    EXPECT_EQ(app.countLines("system opens"), 2) << app.output();
}

TEST(AppPlugin, SaveAsWritesThroughTheRealSaveDialog)
{
    AppRunner app(AppRunner::Binary::TestApp);
    preparePage(app, "save.html");
    std::string out = app.path("out");
    app.writeResource("../out/.keep", "");
    app.start();
    const std::string pid = std::to_string(app.pid());
    // The previous dialog may still be going away when the next one is looked for: try again.
    auto answer = [&](const std::string& keys) {
        return eventually([&] {
            return xdotool("search --onlyvisible --all --pid " + pid + " --name '^Save$' windowfocus --sync %1 sleep 0.3 key --clearmodifiers " + keys);
        });
    };
    auto typePath = [&](const std::string& path) {
        return answer("ctrl+a") && xdotool("type --delay 5 '" + path + "'") && xdotool("key --clearmodifiers Return");
    };
    ASSERT_TRUE(app.waitForLine(": bad content done", 20s)) << app.output();
    EXPECT_TRUE(app.hasLogLine("ERROR: nothing was saved in bad.pdf: its content is not Base64.")) << app.output();
    ASSERT_TRUE(typePath(out + "/report.pdf")) << app.output();
    ASSERT_TRUE(app.waitForLine(": pdf done", 10s)) << app.output();
    ASSERT_TRUE(typePath(out + "/notes.txt")) << app.output();
    ASSERT_TRUE(app.waitForLine(": text done", 10s)) << app.output();
    ASSERT_TRUE(answer("Escape")) << app.output();
    ASSERT_TRUE(app.waitForLine(": cancel done", 10s)) << app.output();
    // No one, root included, can make a file in /proc: the write fails.
    (void)typePath("/proc/locked.txt");
    // The failed write is shown; Return closes the message.
    EXPECT_TRUE(xdotool("search --sync --onlyvisible --all --pid " + pid + " --name '^Error$' windowfocus --sync %1 sleep 0.3 key --clearmodifiers Return")) << app.output();
    bool done = app.waitForLine(": DONE", 10s);
    app.kill();
    ASSERT_TRUE(done) << app.output();

    EXPECT_EQ(AppRunner::readFile(out + "/report.pdf"), std::string("%PDF-1.4\n\xff\0end", 14));
    EXPECT_EQ(AppRunner::readFile(out + "/notes.txt"), "hello \xc3\xa9");
    EXPECT_FALSE(AppRunner::fileExists(out + "/cancelled.txt"));
    EXPECT_FALSE(AppRunner::fileExists(out + "/bad.pdf"));
    EXPECT_EQ(app.countLines("could not save /proc/locked.txt"), 1) << app.output();
}

} // namespace
