// The controller's start-up without a window: configuration, start page, settings, showing.
#include <gtest/gtest.h>

#include "host/WHResourceLookup.h"
#include "host/WHViewController.h"
#include "support/LogCapture.h"
#include "support/RecordingWebView.h"
#include "support/RecordingWindow.h"
#include "support/TestPlatform.h"

using namespace penwick;
using penwick::test::LogCapture;
using penwick::test::RecordingWebView;
using penwick::test::RecordingWindow;
using penwick::test::TestPlatform;

namespace {

class ViewControllerTest : public ::testing::Test {
protected:
    void writeConfig(const std::string& body)
    {
        env().writeResource("config.xml", "<?xml version=\"1.0\"?><widget>" + body + "</widget>");
    }
    test::FakeAppEnvironment& env() { return m_platform.environment; }

    std::unique_ptr<WHViewController> start()
    {
        auto vc = std::make_unique<WHViewController>(m_platform.platform);
        vc->setWebView(&m_webView);
        vc->setWindow(&m_window);
        vc->awakeFromNib();
        return vc;
    }

    TestPlatform m_platform;
    RecordingWebView m_webView;
    RecordingWindow m_window;
    LogCapture m_log;
};

TEST_F(ViewControllerTest, StartPagesResolveToEscapedFileUrlsOrWebAddressesWithATwentySecondTimeout)
{
    env().writeResource("www/index.html", "");
    env().writeResource("www/a page#1.html", "");
    const std::string www = "file://" + env().resourcePath() + "/www/";
    const std::pair<std::string, std::string> cases[] = {
        { "", www + "index.html" },
        { R"(<content src="a page#1.html"/>)", www + "a%20page%231.html" },
        { R"(<content src="https://example.org/app?x=1"/>)", "https://example.org/app?x=1" },
    };
    for (const auto& [config, url] : cases) {
        writeConfig(config);
        m_webView.clear();
        auto vc = start();
        ASSERT_EQ(m_webView.loads().size(), 1u) << config;
        EXPECT_EQ(m_webView.loads()[0].url, url);
        EXPECT_EQ(m_webView.loads()[0].timeout, std::chrono::seconds(20));
        EXPECT_FALSE(vc->loadFromString());
        EXPECT_TRUE(m_webView.htmlStrings().empty());
    }
}

TEST_F(ViewControllerTest, MissingStartPageLoadsTheErrorPageAndGoesOn)
{
    writeConfig(R"(<content src="gone.html"/><preference name="WindowSize" value="fullscreen"/>)");
    auto vc = start();
    const std::string message = "ERROR: Start Page at 'www/gone.html' was not found.";
    EXPECT_TRUE(m_log.contains(message));
    EXPECT_TRUE(vc->loadFromString());
    ASSERT_EQ(m_webView.htmlStrings().size(), 1u);
    EXPECT_EQ(m_webView.htmlStrings()[0], "<html><body> " + message + " </body></html>");
    EXPECT_TRUE(m_webView.loads().empty());
    // Settings are applied all the same.
    EXPECT_TRUE(vc->cfgFullScreen());
    EXPECT_EQ(m_webView.setPreferencesCount(), 1);
}

TEST_F(ViewControllerTest, NoConfigurationLeavesEverythingUnset)
{
    auto vc = start();
    EXPECT_FALSE(vc->startPage());
    EXPECT_FALSE(vc->wwwFolderName());
    EXPECT_FALSE(vc->pluginRegistry().hasPluginObjects());
    EXPECT_TRUE(m_webView.loads().empty());
    EXPECT_TRUE(m_webView.htmlStrings().empty());
    EXPECT_FALSE(m_log.contains("Failed to initialize XML parser."));
}

TEST_F(ViewControllerTest, DefaultsWhenTheFileNamesNoStartPage)
{
    writeConfig(R"(<preference name="A" value="b"/>)");
    auto vc = start();
    EXPECT_EQ(vc->startPage(), "index.html");
    EXPECT_EQ(vc->wwwFolderName(), "www");
    EXPECT_TRUE(vc->pluginRegistry().hasPluginObjects());
    EXPECT_EQ(vc->settings().at("A"), "b");
}

TEST_F(ViewControllerTest, WebViewSettings)
{
    writeConfig(R"(<preference name="EnableWebGL" value="YES"/><preference name="OSXLocalStoragePath" value="/x/ls"/>)");
    auto vc = start();
    auto prefs = m_webView.preferences();
    EXPECT_TRUE(prefs.webGLEnabled);
    EXPECT_TRUE(prefs.autosaves);
    EXPECT_TRUE(prefs.localStorageEnabled);
    EXPECT_EQ(prefs.localStorageDatabasePath, "/x/ls");
    EXPECT_TRUE(m_log.contains("WebStoragePath is '/x/ls', modify in config.xml."));
    EXPECT_EQ(m_webView.acceptAllCookiesCount(), 1);
}

TEST_F(ViewControllerTest, LowerCaseKeysAreOtherSettings)
{
    writeConfig(R"(<preference name="enablewebgl" value="true"/>)");
    auto vc = start();
    EXPECT_FALSE(m_webView.preferences().webGLEnabled);
}

TEST_F(ViewControllerTest, LocalStorageFallsBackToApplicationSupport)
{
    writeConfig("");
    {
        auto vc = start();
        std::string expected = env().root() + "/data/org.penwick.Test";
        EXPECT_EQ(m_webView.preferences().localStorageDatabasePath, expected);
        EXPECT_TRUE(m_log.contains("WebStoragePath is '" + expected + "', modify in config.xml."));
    }
    env().setDirectoryFailure(Error { 13, "Permission denied" });
    m_log.clear();
    auto vc = start();
    EXPECT_TRUE(m_log.contains("error finding app support directory Permission denied"));
    EXPECT_EQ(m_webView.preferences().localStorageDatabasePath, "~/Library/Application Support/org.penwick.Test");
}

TEST_F(ViewControllerTest, WindowSizeAndPointerSettingsAreReadAndStored)
{
    writeConfig(R"(<preference name="WindowSize" value="800x600"/><preference name="HideMousePointer" value="5"/>)");
    auto vc = start();
    EXPECT_FALSE(vc->cfgFullScreen());
    EXPECT_EQ(vc->cfgWindowSize().width, 800);
    EXPECT_EQ(vc->cfgWindowSize().height, 600);
    EXPECT_EQ(vc->hideMousePointerTimeout(), 5);

    writeConfig(R"(<preference name="WindowSize" value="big"/><preference name="HideMousePointer" value="soon"/>)");
    auto other = start();
    EXPECT_EQ(other->cfgWindowSize().width, 0);
    EXPECT_EQ(other->cfgWindowSize().height, 0);
    EXPECT_EQ(other->hideMousePointerTimeout(), 0);
}

TEST_F(ViewControllerTest, InitRunsOnceAndShowingUsesABlackBackground)
{
    writeConfig(R"(<preference name="A" value="1"/>)");
    auto vc = start();
    vc->settings()["A"] = "changed";
    vc->__init();
    EXPECT_EQ(vc->settings().at("A"), "changed");

    vc->onAppDidFinishLaunching();
    EXPECT_EQ(m_window.background().r, 0);
    EXPECT_EQ(m_window.background().a, 1);
    EXPECT_EQ(m_webView.drawsBackground(), platform::DrawsBackground::No);
    EXPECT_EQ(m_window.calls().back(), RecordingWindow::Call::ActivateApplication);
}

TEST_F(ViewControllerTest, ResourceLookupMatchesNamesWholeWithoutNormalising)
{
    env().writeResource("www/index.html", "");
    env().writeResource("www/css/app.css", "");
    env().writeResource("www/README", "");
    auto lookup = [&](const std::string& p) { return WHResourceLookup::pathForResource(env(), "www", p); };
    EXPECT_EQ(lookup("index.html"), env().resourcePath() + "/www/index.html");
    EXPECT_EQ(lookup("css/app.css"), env().resourcePath() + "/www/css/app.css");
    EXPECT_EQ(lookup("/index.html"), env().resourcePath() + "/www/index.html");
    EXPECT_EQ(lookup("README"), env().resourcePath() + "/www/README");
    EXPECT_FALSE(lookup("index.html?x=1"));
    EXPECT_FALSE(lookup("index"));
    EXPECT_FALSE(lookup("css/"));
}

} // namespace
