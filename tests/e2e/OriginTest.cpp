// Who may call native code, in the real app: the app's own pages and the origins config.xml grants;
// not data: frames, sandboxed frames or other web origins, and a call claiming to come from such a
// frame is refused by the host.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "e2e/AppRunner.h"
#include "e2e/LoopbackServer.h"

using penwick::e2e::AppRunner;
using penwick::e2e::LoopbackServer;
using namespace std::chrono_literals;

namespace {

const std::string kPages = std::string(PENWICK_E2E_PAGES) + "/origin/";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void prepare(AppRunner& app, const std::string& page, const std::string& access, const std::string& origin = {})
{
    app.writeConfig("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"t\">\n<content src=\"" + page + "\"/>\n" + access
        + "<feature name=\"Echo\"><param name=\"osx-package\" value=\"WHTestEcho\"/></feature>\n</widget>\n");
    app.writeResource("www/" + page, replaced(AppRunner::readFile(kPages + page), "@ORIGIN@", origin));
}

bool runUntilDone(AppRunner& app)
{
    app.start();
    bool done = app.waitForLine(": DONE", 40s);
    std::this_thread::sleep_for(200ms);
    app.kill();
    return done;
}

TEST(Origin, OnlyTheAppsOwnFramesAndGrantedOriginsGetTheBridge)
{
    struct Case {
        const char* name;
        bool grant;
        const char* webFrame;
    };
    for (const auto& c : { Case { "without a grant", false, "web frame: undefined" }, Case { "with a grant", true, "web frame: object" } }) {
        SCOPED_TRACE(c.name);
        AppRunner app(AppRunner::Binary::TestApp);
        std::string appFile = "file://" + app.resourcesDir() + "/www/frames.html";
        LoopbackServer server({ { "/frame.html", replaced(AppRunner::readFile(kPages + "frame.html"), "@APPFILE@", appFile) } });
        ASSERT_NE(server.port(), 0);
        prepare(app, "frames.html", c.grant ? "<access origin=\"" + server.origin() + "\"/>\n" : "", server.origin());
        app.writeResource("www/sandboxed.html", AppRunner::readFile(kPages + "sandboxed.html"));
        ASSERT_TRUE(runUntilDone(app)) << app.output();
        EXPECT_TRUE(app.hasLogLine("app page: object object")) << app.output();
        EXPECT_TRUE(app.hasLogLine("data frame: undefined")) << app.output();
        EXPECT_TRUE(app.hasLogLine("sandboxed srcdoc frame: undefined")) << app.output();
        EXPECT_TRUE(app.hasLogLine("sandboxed app frame: undefined")) << app.output();
        EXPECT_TRUE(app.hasLogLine("srcdoc frame: object")) << app.output();
        EXPECT_TRUE(app.hasLogLine(c.webFrame)) << app.output();
        EXPECT_EQ(app.countLines("echo: \"from the web frame\""), c.grant ? 1 : 0) << app.output();
        // Not even a granted web origin reads the app's files.
        EXPECT_TRUE(app.hasLogLine("web frame could not read an app file")) << app.output();
    }
}

TEST(Origin, ACallFromAFrameOutsideThePolicyIsRefusedAndLogged)
{
    AppRunner app(AppRunner::Binary::TestApp);
    prepare(app, "forged.html", "");
    // The web process then sets a bridge in every frame, as one that disobeys the host would.
    setenv("PENWICK_TEST_DISOBEYING_WEB_PROCESS", "1", 1);
    bool done = runUntilDone(app);
    unsetenv("PENWICK_TEST_DISOBEYING_WEB_PROCESS");
    ASSERT_TRUE(done) << app.output();
    EXPECT_TRUE(app.hasLogLine("forged call returned")) << app.output();
    EXPECT_EQ(app.countLines("ERROR: a call to Echo.echo came from a frame of data:, which may not call native code; it was refused."), 1)
        << app.output();
    EXPECT_EQ(app.countLines("echo: \"forged\""), 0) << app.output();
    EXPECT_EQ(app.countLines("echo: \"from the app page\""), 1) << app.output();
}

} // namespace
