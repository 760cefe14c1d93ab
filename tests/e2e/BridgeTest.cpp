// The page and the host meeting in the real app under Xvfb: the bridge, the console, dialogs,
// and the native-ready notice.
#include "e2e/E2E.h"
#include <regex>

// Each bridge page in the test app, to its DONE: the exact lines it and the host log, and how many
// lines hold each text. The calls page: calls, answers and byte buffers between the page and the
// actions. The frames page: every frame gets its own bridge, helpers and ready notice, and dispatch
// failures and console lines are logged while the page goes on; every standard console member
// exists and never throws, and a call with several values writes them all on one line, format
// directives applied; then the engine's missing stream features, filled in app pages as the
// standard has them.
TEST(Bridge, PagesCallTheHostAndTheHostLogsTheirCallsConsolesAndFailures)
{
    const std::string notFound = "not found, or is not a WHPlugin. Check your plugin mapping in config.xml.",
                      noPlugin = "': config.xml maps no such service, or its class does not exist";
    const std::tuple<const char*, Lines, Counts> pages[] = {
        { "calls.html",
            { "members: exec webView: undefined", "result hi after return: true", "repeat 1,2,3 pending 0", "count is 2",
                "back: true 0,1,2", "multipart: true 8,7 tail", "lone surrogate: true", "own proto key: true",
                "deep call failed: the arguments are nested more than 1000 levels deep", "all bytes: true true tail empty 0",
                "from markers: true tail", "answers in order: true 215",
                "settled: true CLASS_NOT_FOUND no plugin serves 'NoSuchService" + noPlugin,
                "settled: true INVALID_ACTION the plugin of 'Echo' has no action 'nosuch'",
                "settled: true CLASS_NOT_FOUND no plugin serves 'No\uFFFDService" + noPlugin,
                "settled: true NO_BRIDGE webhost: this frame has no host bridge; only the app's own pages may call the host" },
            // An ArrayBuffer and a marker written by hand arrive as the same bytes.
            { { "echo: {\"bytes\":[0,1,2],\"subtype\":null}", 2 } } },
        { "frames.html",
            { "echo: \"from frame a\"", "three distinct bridges: true", "sub-frame told ready: true",
                "keys: [\"zeta\",\"alpha\"] [\"a\",\"b\"]", "ERROR: Plugin 'NoSuchService' " + notFound,
                "ERROR: Method 'nosuch:' not defined in Plugin 'Echo'", "ERROR: Plugin '' " + notFound,
                "ERROR: Classname and/or methodName not found for command.", "page goes on",
                // The host's console: six kinds of lines, values, script errors and navigations.
                "plain", "trace: t", "debug: d", "info: 42", "warn: x", "error: 1", "<null>", "{\"a\":[1,\"two\"]}", "1.5",
                "lone \uFFFD surrogate, then the rest", "undefined", "JavaScript error: frames.html:6: Error: boom",
                // Engine messages keep the names of query parameters, not their values.
                "JavaScript error: frames.html:7: Error: see https://x.example/?token=\u2026",
                // Every standard console member as libraries call them.
                "a 1 true null undefined {\"b\":[2]} [3]", "info: Ann is 42 years and 1.5% extra", "warn: styled", "error: {\"a\":1}|[1]|7",
                "debug: x y", "trace: t 2", "cyclic {\"n\":1,\"self\":\"[Circular]\"} Error: bad Symbol(s) function named() [object Map]",
                "hostile [unprintable]", "[{\"a\":1}]", "g", "default: 1", "default: 2", "k: 1", "warn: Count for 'never' does not exist",
                "warn: Timer 't' does not exist", "error: Assertion failed: x y", "error: Assertion failed", "{\"d\":1}", "x y",
                "detached 1", "not functions: [] threw: []", "streams: same function true", "streams: all 1,2,3 unlocked true",
                "streams: break cancelled undefined unlocked true", "streams: kept true then 2,3", "streams: locked TypeError",
                "streams: error broke", "streams: from 1,2,3", "streams: from async a closed", "streams: not iterable TypeError" },
            // Arguments that are not an array (a text, none at all, or not representable) run no
            // action: the one echo is the sub-frame's.
            { { "ERROR: Arguments of 'Echo.echo' are not an array; the call was dropped.", 3 }, { ": echo:", 1 },
                { "JavaScript error: frames.html?token=\u2026:1: ", 1 }, { "s3cret", 0 }, { "default: 1", 2 }, { "never", 1 } } },
    };
    for (const auto& [name, lines, counts] : pages) {
        SCOPED_TRACE(name);
        AppRunner app(AppRunner::Binary::TestApp);
        app.startPages("bridge", name);
        ASSERT_TRUE(lineAppears(app, ": DONE", 20s));
        EXPECT_TRUE(logged(app, lines));
        EXPECT_TRUE(counted(app, counts));
        if (std::string(name) == "frames.html") {
            EXPECT_TRUE(logged(app, { "navigating to file://" + app.resourcesDir() + "/www/frames.html" }));
            std::regex timed(R"(: t: \d+\.\d{3} ms( mid)?$)");
            const Lines all = app.lines();
            EXPECT_EQ(std::count_if(all.begin(), all.end(), [&](const auto& l) { return std::regex_search(l, timed); }), 2) << app.output();
        } else {
            // The action's own log line comes before the page's next statement.
            int counted = app.indexOfLogLine("count: 1");
            ASSERT_GE(counted, 0) << app.output();
            EXPECT_LT(counted, app.indexOfLogLine("after first count")) << app.output();
        }
    }
}

// Scripted answers and chosen files reach the page. (The leave-page question's answers are the
// window test's, where closing asks it.)
TEST(Dialogs, ScriptedAnswersAndChosenFilesReachThePage)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.writePages("bridge", "dialogs.html");
    app.writeResource("../picked/a.txt", "a");
    app.writeResource("../picked/b.txt", "b");
    app.setEnv(
        "PENWICK_TEST_DIALOGS", "ok;ok;cancel;text:abc;text:;cancel;files:" + app.path("picked/a.txt") + "|" + app.path("picked/b.txt"));
    app.start();
    ASSERT_TRUE(lineAppears(app, ": ready to pick", 20s));
    // A file input opens only on a user's click.
    ASSERT_TRUE(app.onWindow("Penwick", "mousemove --window %1 100 100 click 1"));
    EXPECT_TRUE(logged(app,
        { "dialog alert: hello", "confirm ok: true", "confirm cancel: false", "dialog prompt: name? [def]", "prompt text: \"abc\"",
            "prompt empty: \"\"", "prompt cancel: null", "dialog open: multiple yes image/png", "chosen: a.txt,b.txt" }));
}
