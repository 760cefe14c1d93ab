// The application plugin, the popup window, the web-site menu actions, the in-app browser and the
// device facts in the real app. URLs meant for the system browser are recorded by the test app,
// not opened.
#include "e2e/E2E.h"
#include <nlohmann/json.hpp>
#include <regex>

namespace {

// The application plugins, mapped beside the echo plugin.
const std::string kFeatures = "<feature name=\"Penwick\"><param name=\"osx-package\" value=\"WHPenwick\"/></feature>"
                              "<feature name=\"Device\"><param name=\"osx-package\" value=\"WHDevice\"/></feature>"
                              "<feature name=\"InAppBrowser\"><param name=\"osx-package\" value=\"WHInAppBrowser\"/></feature>";

// The popup hands its landing URL to the main page when its own page goes there, not when a frame
// inside it does, and loads web pages only; every in-app browser answer keeps the callback; then
// the documents menu action (F1) opens the documents page in the system browser.
TEST(AppPlugin, PopupHandsTheLandingURLToTheMainPageAndIsReusedAndInAppBrowserAnswersKeepTheCallback)
{
    const std::string landing = PENWICK_LOGIN_LANDING_URL;
    AppRunner app(AppRunner::Binary::TestApp);
    LoopbackServer inner(AppRunner::page("app", "inner.html", { { "@LANDING@", landing } }));
    const std::string store = PENWICK_STORE_HOST;
    app.setEnv("PENWICK_TEST_RECORD_URLS", "1");
    app.startPages("app", "popup.html", {}, kFeatures, { { "@STORE@", store }, { "@INNER@", inner.origin() + "/inner.html" } });
    const std::string self = "\"Not Yet Implemented for OSX: [self openInHostWebView:absoluteUrl withOptions:options]\"";
    const std::string inApp = "\"Not Yet Implemented for OSX: [self openInInAppBrowser:absoluteUrl withOptions:options]\"";
    const std::string popupOnly = "only http and https pages load in the popup",
                      webOnly = "only http, https and mailto URLs are handed to the desktop";
    // Other targets than "_blank" go to the system, unchanged.
    Lines answers { "system opens https://example.org/page?q=\u2026", "system opens https://example.org/other",
        "system opens https://example.org/third", "system opens https://example.org/b", "system opens https://" + store + "/app",
        "open answered", "refused to open file:///etc/passwd in the popup: " + popupOnly,
        "refused to open javascript:console.log(document.cookie) in the popup: " + popupOnly,
        "refused to open file:///etc/passwd: " + webOnly, "open refused: " + webOnly,
        // Query values stay out of the log.
        "https://example.org/page?q=\u2026..xxxx._system" };
    for (const auto& [id, answer] : { std::pair { "none", std::string("9 \"incorrect number of arguments\"") }, { "self", "9 " + self },
             { "system", "1 null" }, { "blank", "9 " + inApp }, { "store", "1 null" }, { "storecase", "9 " + inApp } })
        answers.push_back(std::string("answer IAB-") + id + ": " + answer + " keep=1");
    EXPECT_TRUE(logged(app, answers, 30s));
    EXPECT_TRUE(counted(app, { { "open refused: " + popupOnly, 2 }, { "system opens", 5 } }));

    auto shown = [&] { return app.windowCount("inner", AppRunner::Shown::Only) > 0; };
    ASSERT_TRUE(AppRunner::waitUntil(shown, 30s)) << app.output();
    ASSERT_TRUE(lineAppears(app, "first login"));
    EXPECT_TRUE(AppRunner::waitUntil([&] { return !shown(); }, 30s)) << "the popup stays after the landing page";
    ASSERT_TRUE(AppRunner::waitUntil(shown, 30s)) << app.output();
    EXPECT_EQ(app.windowCount("inner", AppRunner::Shown::OrNot), 1) << "a second window for the second open";
    const auto done = lineAppears(app, ": DONE");
    EXPECT_TRUE(AppRunner::waitUntil([&] { return !shown(); }, 30s));
    ASSERT_TRUE(app.press("F1"));
    EXPECT_TRUE(lineAppears(app, std::string("system opens ") + PENWICK_DOCUMENTS_URL));
    app.kill();
    ASSERT_TRUE(done);

    // The URL as the engine navigates to it: the quote of the query escaped by the engine, the
    // backslash and the fragment's quote as they were; the popup's own URL kept its escapes and
    // had its blank escaped. No bridge in the popup. The log names the
    // query's parameters, not their values.
    Lines logins;
    for (const char* step : { "1", "2" })
        logins.push_back("snsLogin: "
            + std::regex_replace(
                landing + "?code=x%27y\\z&bridge=undefined&step=" + step + "&e=a%2Fb%20c%20d#f'\\g", std::regex("[:?#]"), " $& "));
    EXPECT_TRUE(logged(app, logins));
    // Only the page's own snsLogin lines hold the code.
    EXPECT_TRUE(counted(app, { { "url policy.............>>>>>>>>>>>>...." + landing + "?code=\u2026&bridge=\u2026&step=\u2026&e=\u2026#f'\\g", 2 },
        { "url policy.............>>>>>>>>>>>>...." + landing + "?code=\u2026&step=\u2026", 2 }, { "step=frame", 0 }, { "x%27y", 2 } }));
}

// A redirect chain through the landing page hands over one URL; a landing page that a frame of
// another origin chose (on the user's click in it) hands over nothing.
TEST(AppPlugin, PopupHandsOverOneURLOfARedirectChainAndNoneThatAForeignFrameChose)
{
    const std::string landing = PENWICK_LOGIN_LANDING_URL;
    AppRunner app(AppRunner::Binary::TestApp);
    LoopbackServer redirect("");
    LoopbackServer chooser(AppRunner::page("app", "chooser.html", { { "@LANDING@", landing } }));
    // Another port: another origin.
    LoopbackServer framed(AppRunner::page("app", "framed.html", { { "@FRAME@", chooser.origin() + "/" } }));
    app.startPages("app", "landing.html", {}, kFeatures,
        { { "@REDIRECT@", redirect.origin() + "/to/" + landing + "?code=chain" }, { "@FRAMED@", framed.origin() + "/" } });
    // (The log keeps the query's names only.)
    ASSERT_TRUE(lineAppears(app, "snsLogin: " + landing + "?code=\u2026"));
    EXPECT_TRUE(retried(
        app, [&] { (void)app.onWindow("framed", "windowfocus --sync %1 mousemove --window %1 100 100 click 1"); },
        "by a navigation that a frame of another origin may have chosen; it is not handed over", 40s));
    EXPECT_TRUE(counted(app, { { "snsLogin: ", 1 } }));
}

// A login that lands while the main window shows another site (one that has its own
// window.app.snsLogin) is not handed to that site. The site, once shown, and the popup's page (of
// its origin) tell each other they are there; the popup's page then goes to the landing page.
TEST(AppPlugin, PopupHandsNoLoginToAnotherSiteTheMainWindowHasGoneTo)
{
    LoopbackServer site(AppRunner::page("app", "away.html", { { "@LANDING@", PENWICK_LOGIN_LANDING_URL } }));
    AppRunner app(AppRunner::Binary::TestApp);
    app.startLibraryPage(kFeatures,
        "<script>webhost.require('webhost/channel').onNativeReady.subscribe(() => webhost.require('webhost/app').openUrl('" + site.origin()
            + "/#popup', '_blank').then(() => { location = '" + site.origin() + "/'; }));</script>");
    EXPECT_TRUE(counted(app, { { "refused a new window for https://example.org/away:", 1 }, { "got-it", 0 },
        { "the landing page " PENWICK_LOGIN_LANDING_URL "?code=\u2026 is not handed over: the main window does not show one of the "
          "app's pages", 1 } }, 40s));
}

// New windows: http(s) to the system browser, other schemes and the app's own pages refused, each
// with a line; the page's window.open answers null. Clicks make them, as a user would.
TEST(AppPlugin, NewWindowsGoToTheSystemBrowserOrAreRefused)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.setEnv("PENWICK_TEST_RECORD_URLS", "1");
    app.startPages("app", "open.html", {}, kFeatures);
    ASSERT_TRUE(lineAppears(app, "openUrl answered null; ready", 20s));
    EXPECT_TRUE(logged(app, { "system opens https://example.org/plugin", "system opens https://example.org/auto",
                  "ERROR: refused a new window for https://example.org/framed: the page shows content that is not the app's, and "
                  "the user did not ask for it" }));
    for (const char* y : { "50", "150", "250", "350" })
        ASSERT_TRUE(app.onWindow("Penwick", std::string("mousemove --window %1 400 ") + y + " click 1")) << app.output();
    const std::string own = "file://" + app.resourcesDir() + "/www/open.html";
    EXPECT_TRUE(logged(app, { "opening https://example.org/ in the system browser", "system opens https://example.org/",
                  "system opens https://example.org/link?code=\u2026",
                  "ERROR: refused a new window for ftp://example.org/x?k=\u2026: only http and https addresses open in the browser",
                  "ERROR: refused a new window for " + own + ": the app's own pages open only in its window" }));
    // Only the desktop's stand-in sees a query's value; the log does not.
    EXPECT_TRUE(counted(app, { { "window.open answered null", 4 }, { "desktop stand-in got https://example.org/link?code=SECRET", 1 }, { "SECRET", 1 } }));
}

TEST(AppPlugin, SaveAsWritesThroughTheRealSaveDialog)
{
    // The name is pasted into the dialog and read back from the selection.
    if (AppRunner::capture("command -v xclip").empty())
        GTEST_SKIP() << "xclip is not installed (scripts/deps.sh installs it)";
    AppRunner app(AppRunner::Binary::TestApp);
    std::string out = app.path("out");
    app.writeResource("../out/.keep", "");
    // File names on disk in Latin-1: "café" typed into the dialog is saved as "caf\xe9".
    app.setEnv("G_FILENAME_ENCODING", "ISO-8859-1");
    app.startPages("app", "save.html", {}, kFeatures);
    // A dialog takes keys only some time after it shows, which nothing outside it tells: each step is
    // sent again until its effect shows.
    auto send = [&](const std::string& id, const Lines& actions, const std::function<bool()>& took) {
        return AppRunner::waitUntil([&] {
            for (const auto& action : actions)
                (void)AppRunner::xdotool("windowfocus --sync " + id + " " + action);
            return AppRunner::waitUntil(took, 2s);
        }, 30s);
    };
    // Answers the next dialog titled `title` with `keys`, which make it go away; first pastes `path`
    // into its entry if one is given (whole once the entry, all selected, offers it as typed). Pasted,
    // not typed: xdotool types a character the keyboard lacks ("é") by changing the keyboard's map
    // for that key, which a busy dialog may read only after the key.
    auto answer = [&](const std::string& title, const std::string& keys, const std::string& path = {}) {
        std::string id;
        auto gone = [&] { return AppRunner::capture("xwininfo -id " + id).find("IsViewable") == std::string::npos; };
        return AppRunner::waitUntil([&] { return !(id = app.window(title)).empty(); }, 30s)
            && (path.empty()
                || (std::system(("printf %s '" + path + "' | xclip -selection clipboard -t UTF8_STRING >/dev/null 2>&1").c_str()) == 0
                    && send(id, { "key --clearmodifiers ctrl+a ctrl+v", "key --clearmodifiers ctrl+a" },
                        [&] { return AppRunner::capture("timeout 5 xclip -selection primary -o") == path; })))
            && send(id, { "key --clearmodifiers " + keys }, gone);
    };
    ASSERT_TRUE(lineAppears(app, ": bad content done", 20s));
    EXPECT_TRUE(app.hasLogLine("ERROR: nothing was saved in bad.pdf: its content is not Base64.")) << app.output();
    // Saved as proposed, a file goes home at first (not to the working directory), then to the folder last saved to.
    const std::string home = app.path("home");
    for (const auto& [path, keys, line] : { std::tuple { std::string(), "Return", ": pdf done" },
             { out + "/notes.txt", "Return", ": text done" }, { std::string(), "Escape", ": cancel done" },
             { out + "/caf\u00e9.txt", "Return", ": latin done" }, { std::string(), "Return", ": bytes done" },
             { out + "/IMAGE.PNG", "Return", ": upper done" } }) {
        ASSERT_TRUE(answer("Save", keys, path)) << app.output();
        ASSERT_TRUE(lineAppears(app, line));
    }
    // No one, root included, can make a file in /proc: the write fails, is shown, and Return closes the message.
    ASSERT_TRUE(answer("Save", "Return", "/proc/locked.txt")) << app.output();
    EXPECT_TRUE(answer("Error", "Return")) << app.output();
    const auto done = counted(app, { { ": DONE", 1 }, { "locked failed", 1 } });
    app.kill();
    ASSERT_TRUE(done);

    EXPECT_EQ(AppRunner::readFile(home + "/report.pdf"), std::string("%PDF-1.4\n\xff\0end", 14));
    EXPECT_EQ(AppRunner::readFile(out + "/notes.txt"), "hello \xc3\xa9");
    EXPECT_EQ(AppRunner::readFile(out + "/caf\xe9.txt"), "latin");
    // Bytes are saved as they are, whatever the type; Base64 of a binary type in capitals is decoded.
    EXPECT_EQ(AppRunner::readFile(out + "/archive.zip"), std::string("PK\xff\0", 4));
    EXPECT_EQ(AppRunner::readFile(out + "/IMAGE.PNG"), "\x89PNG");
    EXPECT_FALSE(std::filesystem::exists(out + "/cancelled.txt"));
    EXPECT_FALSE(std::filesystem::exists(out + "/bad.pdf"));
    // Without a session bus the chooser keeps its settings quietly; the log gives the content's
    // size, not the content.
    EXPECT_TRUE(counted(app, { { "could not save /proc/locked.txt", 1 }, { "dconf", 0 }, { "hello", 0 },
        { "locked failed ERROR: /proc/locked.txt could not be saved: ", 1 } }));
    // Each call is answered once its dialog has closed.
    EXPECT_TRUE(logged(app, { "save as notes txt <8 bytes>", "bad failed ERROR: the content of bad.pdf is not Base64",
                  "report answered " + home + "/report.pdf", "notes answered " + out + "/notes.txt", "cancelled answered null",
                  "caf\u00e9 answered " + out + "/caf\u00e9.txt" }));
}

// Device facts: the keys and their types, and the identifier kept across runs until the user
// defaults are removed. One run of the device page: the facts it logged.
nlohmann::json runOnce(AppRunner& app)
{
    const int runs = app.countLines(": facts: ");
    app.start();
    EXPECT_TRUE(AppRunner::waitUntil([&] { return app.countLines(": facts: ") > runs; }, 20s)) << app.output();
    app.kill();
    return nlohmann::json::parse(app.lastAfter(": facts: ").value_or(""), nullptr, false);
}

TEST(Device, InfoHasItsKeysAndTheIdentifierLastsUntilTheDefaultsGo)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writePages("app", "device.html", {}, kFeatures + "<feature name=\"File\"><param name=\"osx-package\" value=\"WHFile\"/></feature>");

    auto first = runOnce(app);
    // The page asks through the ES module, imported beside the classic scripts: the same library,
    // working files, and failures as Error objects with their codes.
    EXPECT_TRUE(app.hasLogLine("module: 5 | bytes | true | true 1 NOT_FOUND_ERR | true CLASS_NOT_FOUND true")) << app.output();
    ASSERT_TRUE(first.is_object() && first["types"].is_object()) << app.output();
    const auto& types = first["types"];
    // Keys with a default may be missing.
    for (const auto& [key, type, missing] : { std::tuple { "uuid", "string", "" }, { "webhost", "string", "" }, { "model", "string", "" },
             { "platform", "string", "" }, { "version", "string", "" }, { "isVirtual", "boolean", "" }, { "manufacturer", "string", "string" },
             { "serial", "string", "string" } })
        EXPECT_EQ(types.value(key, missing), type) << key << " in " << types.dump();
    EXPECT_EQ(first["same"], true);
    // The host has one version: --version prints the one the page reads.
    const std::string version = AppRunner::capture(std::string(PENWICK_TESTAPP) + " --version");
    EXPECT_NE(version.find("\nhost: penwick " + first.value("webhost", "?") + "\n"), std::string::npos) << version;
    const std::string uuid = first.value("uuid", "");
    ASSERT_EQ(uuid.size(), 36u) << uuid;
    EXPECT_EQ(uuid.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << uuid;
    EXPECT_EQ(runOnce(app).value("uuid", ""), uuid);

    std::remove((app.path("config/") + PENWICK_APP_ID + "/user-defaults.ini").c_str());
    const std::string fresh = runOnce(app).value("uuid", "");
    EXPECT_EQ(fresh.size(), 36u);
    EXPECT_NE(fresh, uuid);
}

} // namespace
