// The engine's web-process sandbox: on where the system can start it, off with one log line where it
// cannot or the user turned it off; the bridge works either way, and without the host's extension
// the page still loads.
#include "e2e/E2E.h"

// CI and containers put the runtime folder inside the temporary one (TMPDIR=/tmp,
// XDG_RUNTIME_DIR=/tmp/runtime-...): with a session bus, whose proxy the engine binds into the
// runtime folder, the pages load; the temporary folder stays out of the sandbox, said once.
TEST(Sandbox, OnWhereTheSystemAllowsItOffWithOneLineOtherwiseAndTheBridgeWorksEither)
{
    const std::string off = "web pages run without the engine's sandbox: ";
    PrivateBus bus;
    // "{vartmp}": a folder in /var/tmp, which the sandbox makes a link to its own /tmp.
    std::string varTmpFolder = "/var/tmp/penwick-e2e-XXXXXX";
    ASSERT_TRUE(g_mkdtemp(varTmpFolder.data()));
    std::shared_ptr<void> removeVarTmp(nullptr, [&](void*) { std::filesystem::remove_all(varTmpFolder); });
    // The reason is logged; none: the system decides. "{root}" is the app's own folder.
    struct Case { const char* name; AppRunner::Replacements env; const char *reason, *loaded = ": page loaded "; };
    for (const Case& c : { Case { "default", {}, nullptr },
             Case { "turned off", { { "PENWICK_DISABLE_SANDBOX", "1" } }, "PENWICK_DISABLE_SANDBOX is set" },
             Case { "no bubblewrap", { { "PATH", "/nonexistent" } }, "bwrap is not installed" },
             Case { "no home folder", { { "HOME", "/nonexistent" } }, "the home folder /nonexistent does not exist" },
             // The page still loads, without a bridge, and the host says why.
             Case { "no web-process extension", { { "PENWICK_WEB_EXTENSION_DIR", "/nonexistent" } }, nullptr,
                 "the page loaded without the host's web-process extension (looked in /nonexistent); it has no hostbridge" },
             Case { "runtime folder inside the temporary one", { { "TMPDIR", "{root}" }, { "DBUS_SESSION_BUS_ADDRESS", bus.address } }, nullptr,
                 ": page loaded " },
             // The engine's sandbox makes /var/tmp a link to its own /tmp, which the folder must not cover.
             Case { "temporary folder /var/tmp", { { "TMPDIR", "/var/tmp" } }, nullptr, ": page loaded " },
             // A home in /var/tmp: the engine would end the host.
             Case { "runtime folder in /var/tmp", { { "XDG_RUNTIME_DIR", "{vartmp}" } }, "the engine's sandbox cannot bind /var/tmp/penwick-e2e-" } }) {
        SCOPED_TRACE(c.name);
        AppRunner app(AppRunner::Binary::TestApp);
        const bool runtimeInTemporary = c.env.size() == 2, varTmp = c.env.size() == 1 && c.env[0].second == "/var/tmp";
        for (const auto& [name, value] : c.env)
            app.setEnv(name, AppRunner::replaced(AppRunner::replaced(value, "{root}", app.root()), "{vartmp}", varTmpFolder));
        app.startPages("channel", "attack.html", {}, runtimeInTemporary || varTmp ? AppRunner::kFilePlugin : "");
        ASSERT_TRUE(lineAppears(app, c.loaded));
        if (c.reason) {
            EXPECT_EQ(app.countLines(off + c.reason), 1) << app.output();
        }
        // Without a reason logged the web processes run in a PID namespace other than the test's (here
        // too where the system allows it; a container may not).
        bool fellBack = app.countLines(off) > 0;
        EXPECT_EQ(app.countLines(off), fellBack ? 1 : 0) << app.output();
        const auto web = app.webProcesses();
        const auto mine = std::filesystem::read_symlink("/proc/self/ns/pid");
        EXPECT_EQ(!web.empty() && std::all_of(web.begin(), web.end(), [&](pid_t pid) {
            std::error_code error;
            return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/pid", error) != mine && !error;
        }), !fellBack) << app.output();
        EXPECT_EQ(app.countLines("web pages cannot read " + app.root() + " (its files play no media): it holds the runtime folder "),
            runtimeInTemporary ? 1 : 0) << app.output();
        EXPECT_EQ(app.countLines("web pages cannot read /var/tmp (its files play no media)"), varTmp && !fellBack ? 1 : 0) << app.output();
    }
}
