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

TEST_F(ViewControllerTest, StartPagesResolveToEscapedFileUrlsWebAddressesOrTheErrorPage)
{
    env().writeResource("www/index.html", "");
    env().writeResource("www/a page#1.html", "");
    const std::string www = "file://" + env().resourcePath() + "/www/";
    const std::string missing = "ERROR: Start Page at 'www/gone.html' was not found.";
    const struct {
        std::string config;
        std::string url; // empty: the error page is shown instead
    } cases[] = {
        { "", www + "index.html" },
        { R"(<content src="a page#1.html"/>)", www + "a%20page%231.html" },
        { R"(<content src="https://example.org/app?x=1"/>)", "https://example.org/app?x=1" },
        { R"(<content src="gone.html"/>)", "" },
    };
    for (const auto& c : cases) {
        writeConfig(c.config);
        m_webView.loads.clear();
        m_webView.htmlStrings.clear();
        m_webView.prefs = {};
        auto vc = start();
        EXPECT_EQ(vc->loadFromString(), c.url.empty()) << c.config;
        if (c.url.empty()) {
            EXPECT_TRUE(m_webView.loads.empty());
            EXPECT_EQ(m_webView.htmlStrings, std::vector<std::string> { "<html><body> " + missing + " </body></html>" });
            continue;
        }
        ASSERT_EQ(m_webView.loads.size(), 1u) << c.config;
        EXPECT_EQ(m_webView.loads[0].url, c.url);
        EXPECT_EQ(m_webView.loads[0].timeout, std::chrono::seconds(20));
        EXPECT_TRUE(m_webView.htmlStrings.empty());
    }
    // Settings are applied after a missing start page all the same.
    EXPECT_TRUE(m_webView.prefs.autosaves);
}

TEST_F(ViewControllerTest, NoConfigurationLoadsNothing)
{
    auto vc = start();
    EXPECT_TRUE(m_webView.loads.empty() && m_webView.htmlStrings.empty());
    EXPECT_FALSE(m_log.contains("Failed to initialize XML parser."));
}

TEST_F(ViewControllerTest, PreferencesReachTheWebViewUnderTheirExactKeys)
{
    writeConfig(R"(<preference name="EnableWebGL" value="YES"/><preference name="OSXLocalStoragePath" value="/x/ls"/>)"
                R"(<preference name="WindowSize" value="800x600"/><preference name="HideMousePointer" value="5"/>)");
    auto vc = start();
    EXPECT_TRUE(m_webView.prefs.webGLEnabled);
    EXPECT_TRUE(m_webView.prefs.localStorageEnabled);
    EXPECT_EQ(m_webView.prefs.localStorageDatabasePath, "/x/ls");
    EXPECT_EQ(vc->cfgWindowSize().width, 800);
    EXPECT_EQ(vc->hideMousePointerTimeout(), 5);

    writeConfig(R"(<preference name="enablewebgl" value="true"/>)"); // keys are case-sensitive
    m_webView.prefs = {};
    auto other = start();
    EXPECT_FALSE(m_webView.prefs.webGLEnabled);
}

TEST_F(ViewControllerTest, LocalStorageFolderFallsBackWhenTheDataFolderIsUnavailable)
{
    writeConfig("");
    env().setDirectoryFailure(Error { 13, "Permission denied" });
    auto vc = start();
    EXPECT_TRUE(m_log.contains("error finding app support directory Permission denied"));
    EXPECT_EQ(m_webView.prefs.localStorageDatabasePath, "~/Library/Application Support/org.penwick.Test");
}

TEST_F(ViewControllerTest, TheWindowTurnsBlackBeforeItIsShown)
{
    auto vc = start();
    vc->onAppDidFinishLaunching();
    EXPECT_EQ(m_window.background().r, 0);
    EXPECT_EQ(m_window.background().a, 1);
    EXPECT_EQ(m_webView.drawsBackground, platform::DrawsBackground::No);
    EXPECT_EQ(m_window.calls(), (std::vector<RecordingWindow::Call> { RecordingWindow::Call::SetBackground,
                                    RecordingWindow::Call::ShowAndMakeKey, RecordingWindow::Call::ActivateApplication }));
}

TEST_F(ViewControllerTest, ResourceLookupMatchesNamesWholeWithoutNormalising)
{
    env().writeResource("www/index.html", "");
    env().writeResource("www/css/app.css", "");
    const std::string www = env().resourcePath() + "/www/";
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        { "index.html", www + "index.html" }, { "/index.html", www + "index.html" },
        { "css/app.css", www + "css/app.css" }, { "index.html?x=1", std::nullopt }, { "index", std::nullopt },
        { "css/", std::nullopt },
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(WHResourceLookup::pathForResource(env(), "www", path), expected) << path;
}

} // namespace
