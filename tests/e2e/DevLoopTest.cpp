// The developer's loop in the real app: reload and inspector keys with developer extras on (and
// the page's own keys without), and a run on a development server with --dev-url.
#include "e2e/E2E.h"

// Counts its loads in the session and logs the keys that reach it.
const std::string kCountingPage = R"(<!DOCTYPE html><title>dev</title><body><script>
  var n = Number(sessionStorage.getItem('loads') || 0) + 1;
  sessionStorage.setItem('loads', String(n));
  console.log('load ' + n);
  addEventListener('keydown', function (e) {
    if (e.key !== 'Control' && e.key !== 'Shift') console.log('page key ' + (e.ctrlKey ? 'ctrl+' : '') + e.key);
  });
</script></body>)";

// With developer extras on, Shift+F10 opens the engine's menu, F5 and Ctrl+R reload and
// Ctrl+Shift+I opens the inspector's window; with them off the keys are the page's, which sees them
// and stays loaded once, in one window: a plain page offers no menu at all (only history and reload
// were on it), and the key after the menu key reaches the page.
TEST(DevLoop, ReloadAndInspectorKeysOnlyWithDeveloperExtras)
{
    for (bool extras : { false, true }) {
        SCOPED_TRACE(extras ? "developer extras on" : "developer extras off");
        AppRunner app;
        if (extras)
            app.writeResource(std::string("../config/") + PENWICK_APP_ID + "/user-defaults.ini", "[Defaults]\nWebKitDeveloperExtras=true\n");
        app.startPage("<content src=\"index.html\"/>", kCountingPage);
        ASSERT_TRUE(lineAppears(app, "load 1", 20s));
        // The menu is a window of its own without a name.
        auto unnamed = [&] { return AppRunner::capture("xdotool search --onlyvisible --pid " + std::to_string(app.pid()) + " --name '^$'"); };
        const std::string before = unnamed();
        ASSERT_TRUE(app.press("shift+F10"));
        if (extras) {
            EXPECT_TRUE(AppRunner::waitUntil([&] { return unnamed() != before; }, 20s));
            ASSERT_TRUE(AppRunner::xdotool("key Escape"));
            ASSERT_TRUE(AppRunner::waitUntil([&] { return unnamed() == before; }, 20s));
        }
        const long windows = app.windowCount(".*", AppRunner::Shown::Only);
        for (const auto& [key, reloaded, heard] :
            { std::tuple { "F5", "load 2", "page key F5" }, { "ctrl+r", "load 3", "page key ctrl+r" } }) {
            ASSERT_TRUE(app.press(key));
            EXPECT_TRUE(lineAppears(app, extras ? reloaded : heard, 20s));
        }
        ASSERT_TRUE(app.press("ctrl+shift+i"));
        if (extras) {
            EXPECT_TRUE(AppRunner::waitUntil([&] { return app.windowCount(".*", AppRunner::Shown::Only) > windows; }, 20s))
                << "no inspector window\n" << app.output();
            EXPECT_EQ(app.windowCount("Web Inspector.*", AppRunner::Shown::Only), 1);
            EXPECT_TRUE(counted(app, { { "page key F5", 0 }, { "page key ctrl+", 0 } }));
        } else {
            EXPECT_TRUE(lineAppears(app, "page key ctrl+I"));
            EXPECT_TRUE(counted(app, { { "page key F5", 1 }, { "page key ctrl+r", 1 }, { "load 2", 0 } }));
            EXPECT_EQ(unnamed(), before);
            EXPECT_EQ(app.windowCount(".*", AppRunner::Shown::Only), windows);
        }
    }
}

// A run with --dev-url starts on the development server and its page gets the bridge; a run
// without it that navigates to the same server does not. The option wins over the variable; a
// value that is no http(s) address is refused before anything starts.
TEST(DevLoop, DevUrlGrantsTheServersOriginForThatRunOnly)
{
    LoopbackServer server("<!DOCTYPE html><title>dev server</title><script>console.log('dev page bridge: ' + typeof hostbridge);"
                          "</script>");
    const std::string url = server.origin() + "/";
    AppRunner app;
    app.writeConfig(AppRunner::widget("<content src=\"index.html\"/>"));
    app.writeResource("www/index.html", "<script>console.log('start page'); location.href = '" + url + "';</script>");

    app.setEnv("PENWICK_DEV_URL", "javascript:alert(1)");
    EXPECT_EQ(app.run({}), 2);
    EXPECT_EQ(app.run({ "--dev-url", "ftp://127.0.0.1/" }), 2);
    EXPECT_TRUE(counted(app, { { "PENWICK_DEV_URL takes the http or https address of a development server, like "
                                 "http://127.0.0.1:5173/, not 'javascript:alert(1)'", 1 },
        { "--dev-url takes the http or https address", 1 } }));

    app.start({ "--dev-url", url });
    EXPECT_TRUE(lineAppears(app, "dev page bridge: object", 20s));
    EXPECT_TRUE(logged(app, { "this run uses the development server at " + url + ": its origin may call native code until the app ends" }));
    EXPECT_TRUE(counted(app, { { "start page", 0 } }));
    app.kill();

    app.setEnv("PENWICK_DEV_URL", "");
    app.start();
    EXPECT_TRUE(lineAppears(app, "dev page bridge: undefined", 20s));
    EXPECT_TRUE(counted(app, { { "start page", 1 } }));
}
