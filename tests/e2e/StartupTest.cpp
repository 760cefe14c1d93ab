// Start-up of the real app under Xvfb: configuration, start page, web view settings.
#include <gtest/gtest.h>

#include "e2e/AppRunner.h"
#include "e2e/Image.h"

using penwick::e2e::AppRunner;
using penwick::e2e::Image;

namespace {

std::string configWith(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"t\">\n" + body + "\n</widget>\n";
}

TEST(Startup, DemoStartPageRendersAndScreenshotIsNotBlank)
{
    AppRunner app;
    std::string shot = app.path("demo.png");
    auto status = app.run({ "--resources", PENWICK_SOURCE_DIR, "--screenshot", shot });
    ASSERT_TRUE(status.has_value()) << app.output();
    EXPECT_EQ(*status, 0) << app.output();
    auto image = Image::loadPng(shot);
    ASSERT_TRUE(image) << "no PNG written";
    EXPECT_GT(image->width(), 100);
    // Text, gradient and cards: far more than a blank or single-colour window.
    EXPECT_GT(image->distinctColours(), 50u);
}

TEST(Startup, MissingStartPageShowsTheErrorPageAndLogsIt)
{
    AppRunner app;
    app.writeConfig(configWith(R"(<content src="nothere.html"/>)"));
    std::string dom = app.path("dom.html");
    auto status = app.run({ "--dump-dom", dom });
    ASSERT_EQ(status, 0) << app.output();
    const std::string message = "ERROR: Start Page at 'www/nothere.html' was not found.";
    EXPECT_TRUE(app.hasLogLine(message)) << app.output();
    // The engine normalises the markup; the body text is the message between single blanks.
    EXPECT_NE(AppRunner::readFile(dom).find("<body> " + message + " </body>"), std::string::npos)
        << AppRunner::readFile(dom);
}

TEST(Startup, StartPageWithQueryIsLookedUpWholeAndNotFound)
{
    AppRunner app;
    app.writeConfig(configWith(R"(<content src="index.html?x=1"/>)"));
    app.writeResource("www/index.html", "<html><body>index</body></html>");
    auto status = app.run({ "--dump-dom", app.path("dom.html") });
    ASSERT_EQ(status, 0) << app.output();
    EXPECT_TRUE(app.hasLogLine("ERROR: Start Page at 'www/index.html?x=1' was not found.")) << app.output();
}

TEST(Startup, StartPageInSubfolderAndWebAddressesLoadAsGiven)
{
    {
        AppRunner app;
        app.writeConfig(configWith(R"(<content src="pages/start.html"/>)"));
        app.writeResource("www/pages/start.html", "<html><body><p id=m>from-subfolder</p></body></html>");
        std::string dom = app.path("dom.html");
        ASSERT_EQ(app.run({ "--dump-dom", dom }), 0) << app.output();
        EXPECT_NE(AppRunner::readFile(dom).find("from-subfolder"), std::string::npos);
    }
    {
        // A start page with "://" is a URL; the resources are not consulted.
        AppRunner app;
        app.writeResource("elsewhere/page.html", "<html><body>outside-www</body></html>");
        app.writeConfig(configWith("<content src=\"file://" + app.resourcesDir() + "/elsewhere/page.html\"/>"));
        std::string dom = app.path("dom.html");
        ASSERT_EQ(app.run({ "--dump-dom", dom }), 0) << app.output();
        EXPECT_NE(AppRunner::readFile(dom).find("outside-www"), std::string::npos);
    }
}

TEST(Startup, DefaultLocalStoragePathIsLoggedExactly)
{
    AppRunner app;
    app.writeConfig(configWith(""));
    app.writeResource("www/index.html", "<html><body>x</body></html>");
    ASSERT_EQ(app.run({ "--dump-dom", app.path("dom.html") }), 0) << app.output();
    EXPECT_TRUE(app.hasLogLine("WebStoragePath is '" + app.dataHome() + "/" + PENWICK_APP_ID + "', modify in config.xml."))
        << app.output();
}

TEST(Startup, LocalStorageLivesInTheConfiguredFolderAndSurvivesARestart)
{
    AppRunner app;
    std::string storage = app.path("storage");
    app.writeConfig(configWith("<preference name=\"OSXLocalStoragePath\" value=\"" + storage + "\"/>"));
    app.writeResource("www/index.html", R"(<html><body><p id=out></p><script>
        var before = localStorage.getItem('kept');
        if (!before) localStorage.setItem('kept', 'value-from-first-run');
        document.getElementById('out').textContent = 'read:' + before;
        </script></body></html>)");
    std::string dom1 = app.path("dom1.html");
    ASSERT_EQ(app.run({ "--dump-dom", dom1 }), 0) << app.output();
    EXPECT_NE(AppRunner::readFile(dom1).find("read:null"), std::string::npos);
    EXPECT_TRUE(app.hasLogLine("WebStoragePath is '" + storage + "', modify in config.xml."));

    std::string dom2 = app.path("dom2.html");
    ASSERT_EQ(app.run({ "--dump-dom", dom2 }), 0) << app.output();
    EXPECT_NE(AppRunner::readFile(dom2).find("read:value-from-first-run"), std::string::npos)
        << AppRunner::readFile(dom2);
    EXPECT_TRUE(AppRunner::fileExists(storage)) << "local storage was not written under the configured folder";
}

TEST(Startup, WebGLContextWhenEnabled)
{
    AppRunner app;
    app.writeConfig(configWith(R"(<preference name="EnableWebGL" value="true"/>)"));
    app.writeResource("www/index.html", R"(<html><body><p id=out></p><script>
        var gl = document.createElement('canvas').getContext('webgl');
        document.getElementById('out').textContent = gl ? 'webgl:yes' : 'webgl:no';
        </script></body></html>)");
    std::string dom = app.path("dom.html");
    ASSERT_EQ(app.run({ "--dump-dom", dom }), 0) << app.output();
    EXPECT_NE(AppRunner::readFile(dom).find("webgl:yes"), std::string::npos) << AppRunner::readFile(dom);
}

TEST(Startup, BrokenConfigurationKeepsWhatCameBeforeTheError)
{
    AppRunner app;
    // Breaks off after the first preference: defaults apply to the rest.
    app.writeConfig("<?xml version=\"1.0\"?><widget><preference name=\"OSXLocalStoragePath\" value=\"" + app.path("ls")
        + "\"/><content src=\"other.html\"");
    app.writeResource("www/index.html", "<html><body>default-start-page</body></html>");
    std::string dom = app.path("dom.html");
    ASSERT_EQ(app.run({ "--dump-dom", dom }), 0) << app.output();
    EXPECT_NE(AppRunner::readFile(dom).find("default-start-page"), std::string::npos);
    EXPECT_TRUE(app.hasLogLine("WebStoragePath is '" + app.path("ls") + "', modify in config.xml.")) << app.output();
}

TEST(Startup, CommandLineErrorsAndInformation)
{
    AppRunner app;
    EXPECT_EQ(app.run({ "--version" }), 0);
    EXPECT_NE(app.output().find("penwick "), std::string::npos);

    AppRunner help;
    EXPECT_EQ(help.run({ "--help" }), 0);
    EXPECT_NE(help.output().find("--screenshot"), std::string::npos);

    AppRunner missing;
    auto status = missing.run({ "--resources", missing.path("no-such-folder"), "--screenshot", missing.path("x.png") });
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_NE(missing.output().find("does not exist"), std::string::npos);
    EXPECT_FALSE(AppRunner::fileExists(missing.path("x.png")));
}

} // namespace
