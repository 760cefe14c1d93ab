// Who may call native code and read the app's files, in the real app: the app's own pages and the
// origins config.xml grants; not data: frames, sandboxed frames or other web origins, and a call
// claiming to come from such a frame is refused by the host. Web frames and their children learn
// nothing of whfile files, and what they download is not saved.
#include "e2e/E2E.h"

// A whfile: page has the bridge where the app framed it, not where the web frame did; the file the
// web frame probes for exists (the app's own page loads it in the file test). (That a
// wildcard such as the demo's old "*" grants nothing, with its line, is the content policy's unit
// table.)
TEST(Origin, OnlyTheAppsOwnFramesAndExplicitlyGrantedOriginsGetTheBridge)
{
    // config.xml names the web frame's origin in an access element, or nothing.
    for (const bool granted : { false, true }) {
        SCOPED_TRACE(granted ? "granted" : "not granted");
        AppRunner app(AppRunner::Binary::TestApp);
        LoopbackServer server(
            AppRunner::page("origin", "frame.html", { { "@APPFILE@", "file://" + app.resourcesDir() + "/www/frames.html" } }));
        app.writeResource("../data/" + std::string(PENWICK_APP_ID) + "/files/pic.svg",
            R"(<svg xmlns="http://www.w3.org/2000/svg" width="7" height="5"><rect width="7" height="5"/></svg>)");
        const std::string access = granted ? "<access origin=\"" + server.origin() + "\"/>" : "";
        app.startPages("origin", "frames.html", { "sandboxed.html", "planted.html" }, access + AppRunner::kFilePlugin,
            { { "@ORIGIN@", server.origin() } });
        // Not even a granted web origin reads the app's files: whfile URLs of a file that exists and
        // of one that does not fail alike, before any request is made.
        const std::string refused = " whfile: alike: fetch error, no-cors error, img error";
        EXPECT_TRUE(logged(app,
            { "app page: object object", "data frame: undefined", "sandboxed srcdoc frame: undefined", "sandboxed app frame: undefined",
                "srcdoc frame: object", granted ? "web frame: object" : "web frame: undefined", "web frame could not read an app file",
                "app-framed whfile page: object", "web frame" + refused, "sandboxed child of the web frame" + refused,
                "data: child of the web frame" + refused, "refused a download from http://127.0.0.1: the app does not save downloads" },
            40s));
        EXPECT_TRUE(counted(app,
            { { "echo: \"from the web frame\"", granted ? 1 : 0 }, { "web-framed whfile page: object", 0 },
                { "grants no native access", 0 } }));
        app.kill();
        EXPECT_EQ(AppRunner::capture("find '" + app.root() + "' -name 'pwn*'"), "") << app.output();
    }
}

// An app page with answers on their way navigates its main frame to a web page that takes them if
// it can: none arrives there. That page then opens a whfile: page in the main frame, which gets no
// bridge. (A file outside the app's folder never becomes the main document at all: below.)
TEST(Origin, AnswersReachOnlyTheDocumentThatAsked)
{
    AppRunner app(AppRunner::Binary::TestApp);
    LoopbackServer server(AppRunner::page("origin", "taker.html"));
    app.writeResource("planted.html", AppRunner::page("origin", "planted.html"));
    app.startPages("origin", "away.html", {}, AppRunner::kFilePlugin, { { "@ORIGIN@", server.origin() + "/taker.html" } });
    EXPECT_TRUE(logged(app, { "asked", "taker ready", "taker waited" }, 40s));
    // Eight answers, one line (where the host drops them, or the web process when they crossed).
    const std::string dropped = "dropped the answers for a document that is gone";
    EXPECT_TRUE(lineAppears(app, dropped));
    EXPECT_LE(app.countLines(dropped), 2) << app.output();
    // A whfile: page the taker opens in the main frame is not the app's either.
    (void)lineAppears(app, "top whfile page: ", 10s);
    EXPECT_TRUE(counted(app, { { "taker received", 0 }, { "top whfile page: object", 0 } }));
}

// A foreign file (as a dropped one) never becomes the main frame's document, so it frames no page
// of the app's folder and reads nothing through whfile (whfile's own refusal of documents that are
// not the app's is the file scheme's unit table).
TEST(Origin, AForeignFileNeverBecomesTheMainDocumentAndReadsNothingThroughWhfile)
{
    AppRunner app(AppRunner::Binary::TestApp);
    for (const char* page : { "dropped.html", "spy.html", "planted.html" })
        app.writeResource(page, AppRunner::page("origin", page));
    app.writeResource("www/pic.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="7" height="5"/>)");
    const std::string dropped = "file://" + app.resourcesDir() + "/dropped.html";
    app.startPages("origin", "leave.html", {}, AppRunner::kFilePlugin, { { "@ORIGIN@", dropped } });
    ASSERT_TRUE(lineAppears(app, "refused to show " + dropped + " in the app's window: it is a file outside the app's folder", 40s));
    for (pid_t web : app.webProcesses())
        ::kill(web, SIGKILL);
    EXPECT_TRUE(lineAppears(app, "reloading the page"));
    EXPECT_TRUE(AppRunner::waitUntil([&] { return app.countLines("refused to show " + dropped) >= 2; }, 30s)) << app.output();
    EXPECT_TRUE(counted(app, { { "dropped page: ", 0 }, { "spy ", 0 }, { "top whfile page: ", 0 } }));
}

// Going back to an app page gives it a document the host serves: its calls are answered.
TEST(Origin, AnAppPageReachedByGoingBackIsServed)
{
    AppRunner app(AppRunner::Binary::TestApp);
    LoopbackServer server("<!DOCTYPE html><script>setTimeout(function () { history.back(); }, 300)</script>");
    app.startPages("origin", "back.html", {}, {}, { { "@ORIGIN@", server.origin() + "/" } });
    EXPECT_TRUE(lineAppears(app, "answered back"));
}

TEST(Origin, ACallFromAFrameOutsideThePolicyIsRefusedAndLogged)
{
    AppRunner app(AppRunner::Binary::TestApp);
    // The web process then sets a bridge in every frame, as one that disobeys the host would.
    app.setEnv("PENWICK_TEST_DISOBEYING_WEB_PROCESS", "1");
    app.startPages("origin", "forged.html");
    EXPECT_TRUE(logged(app, { "forged call returned" }, 40s));
    // The refusal is logged where the echo would have been, so once it is seen no echo can follow.
    EXPECT_TRUE(counted(app,
        { { "ERROR: a call to Echo.echo came from a frame of data:, which may not call native code; it was refused.", 1 },
            { "echo: \"from the app page\"", 1 }, { "echo: \"forged\"", 0 } }));
}
