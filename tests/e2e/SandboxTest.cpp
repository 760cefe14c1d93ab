// The engine's web-process sandbox: on where the system can start it, off with one log line where it
// cannot or the user turned it off; the bridge works either way, and without the host's extension
// the page still loads.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>

#include "e2e/AppRunner.h"

using penwick::e2e::AppRunner;

namespace {

// How many PID namespaces deep each web process of `app` runs (1: none of its own); 0 when there
// is none.
int webProcessNamespaceDepth(const AppRunner& app)
{
    int depth = 0;
    for (pid_t web : app.webProcesses()) {
        std::string status = AppRunner::readFile("/proc/" + std::to_string(web) + "/status");
        auto line = status.substr(status.find("NSpid:"));
        line = line.substr(0, line.find('\n'));
        depth = static_cast<int>(std::count(line.begin(), line.end(), '\t'));
    }
    return depth;
}

TEST(Sandbox, OnWhereTheSystemAllowsItOffWithOneLineOtherwiseAndTheBridgeWorksEither)
{
    const std::string off = "web pages run without the engine's sandbox: ";
    struct Case {
        const char* name;
        const char* variable;
        const char* value;
        const char* reason; // logged; none: the system decides
        const char* loaded = ": READY ";
    };
    for (const Case& c : { Case { "default", nullptr, nullptr, nullptr },
             Case { "turned off", "PENWICK_DISABLE_SANDBOX", "1", "PENWICK_DISABLE_SANDBOX is set" },
             Case { "no bubblewrap", "PATH", "/nonexistent", "bwrap is not installed" },
             Case { "no home folder", "HOME", "/nonexistent", "the home folder /nonexistent does not exist" },
             // The page still loads, without a bridge, and the host says why.
             Case { "no web-process extension", "PENWICK_WEB_EXTENSION_DIR", "/nonexistent", nullptr,
                 "the page loaded without the host's web-process extension (looked in /nonexistent); it has no hostbridge" } }) {
        SCOPED_TRACE(c.name);
        AppRunner app(AppRunner::Binary::TestApp);
        app.writePages("bridge", "reload.html");
        if (c.variable)
            app.setEnv(c.variable, c.value);
        app.start();
        ASSERT_TRUE(app.waitForLine(c.loaded)) << app.output();
        if (c.reason) {
            EXPECT_EQ(app.countLines(off + c.reason), 1) << app.output();
        }
        // Without a reason logged the web process runs in namespaces of its own (here too where the
        // system allows it; a container may not).
        bool fellBack = app.countLines(off) > 0;
        EXPECT_EQ(app.countLines(off), fellBack ? 1 : 0) << app.output();
        EXPECT_EQ(webProcessNamespaceDepth(app) > 1, !fellBack) << app.output();
    }
}

} // namespace
