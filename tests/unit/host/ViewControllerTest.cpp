// The controller's start-up without a window: configuration, start page, settings, showing.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <glib.h>

#include "base/Log.h"
#include "base/LogIdentity.h"
#include "host/WHConsole.h"
#include "host/WHResourceLookup.h"
#include "host/WHViewController.h"
#include "host/WHWebViewDelegate.h"
#include "support/LogCapture.h"
#include "support/RecordingDesktop.h"
#include "support/RecordingWebView.h"
#include "support/TestPlatform.h"

using namespace penwick;

namespace {

class ViewControllerTest : public ::testing::Test {
protected:
    test::FakeAppEnvironment& env() { return m_platform.environment; }
    // A controller started over a config.xml with `config` in its widget, and its new web view.
    std::pair<std::unique_ptr<WHViewController>, test::RecordingWebView&> start(const std::string& config)
    {
        env().writeResource("config.xml", "<?xml version=\"1.0\"?><widget>" + config + "</widget>");
        auto vc = std::make_unique<WHViewController>(m_platform.platform);
        vc->setWebView(&m_views.emplace_back());
        vc->setWindow(&m_window);
        vc->awakeFromNib();
        return { std::move(vc), m_views.back() };
    }

    test::TestPlatform m_platform;
    std::deque<test::RecordingWebView> m_views;
    test::RecordingWindow m_window;
    test::LogCapture m_log;
};

// The error page for a missing start page is checked end to end; settings apply either way.
TEST_F(ViewControllerTest, TheStartPageIsEscapedAndFoundWholeAndTheAppOriginServesItOnlyForThisAppAndOnlyWhenItIsThere)
{
    env().writeResource("www/a page#1.html", "");
    env().writeResource("www/sub/index.html", "");
    // The config, the start of what is loaded ("": nothing).
    const std::pair<std::string, std::string> cases[] = {
        { R"(<content src="a page#1.html"/>)", "file://" + env().resourcePath() + "/www/a%20page%231.html" },
        { R"(<content src="app://Org.Penwick.Test/sub/index.html?x=1#y"/>)", "app://org.penwick.test/sub/index.html?x=1#y" },
        { R"(<content src="sub/index.html"/><preference name="AppOrigin" value="true"/>)", "app://org.penwick.test/sub/index.html" },
        { R"(<content src="sub/index.html"/><preference name="AppOrigin" value="false"/>)", "file://" },
        { R"(<content src="app://org.penwick.other/sub/index.html"/>)", "" },
        { R"(<content src="app://org.penwick.test/gone.html"/>)", "" },
        { R"(<content src="gone.html"/><preference name="AppOrigin" value="true"/>)", "" },
    };
    for (const auto& [config, load] : cases) {
        SCOPED_TRACE(config);
        auto [vc, view] = start(config);
        ASSERT_EQ(view.loads.size(), load.empty() ? 0u : 1u);
        EXPECT_TRUE(load.empty() || view.loads[0].starts_with(load)) << view.loads[0];
        EXPECT_TRUE(view.prefs.localStorageEnabled);
    }
    EXPECT_EQ(m_log.count("ERROR: Start Page 'app://org.penwick.other/sub/index.html' names another app's origin; this app's pages are at "
                          "app://org.penwick.test/"),
        1u);

    // Resource lookup matches names whole without normalising (names in subfolders are checked end to
    // end); a query is part of the name ("?" is a file name's).
    env().writeResource("www/index.html", "");
    const std::string www = env().resourcePath() + "/www/";
    const std::pair<const char*, std::optional<std::string>> names[] = { { "index.html", www + "index.html" },
        { "/index.html", www + "index.html" }, { "index", std::nullopt }, { "sub/", std::nullopt }, { "index.html?x=1", std::nullopt } };
    for (const auto& [path, expected] : names)
        EXPECT_EQ(WHResourceLookup::pathForResource(env(), "www", path), expected) << path;
}

// A value that means nothing is logged once and changes nothing: the window keeps its size, the
// pointer is not hidden (which values mean something is the conversions' test). A size with a zero
// side leaves the window as laid out; other sizes are checked end to end. Local storage falls back to
// the user data folder when the data folder is unavailable.
TEST_F(ViewControllerTest, UnreadableOrZeroSizesAndPointerTimeoutsChangeNothingTheWindowTurnsBlackAndLocalStorageFallsBack)
{
    const std::pair<const char*, const char*> cases[]
        = { { "WindowSize", "99999x99999" }, { "WindowSize", "fulscreen" }, { "HideMousePointer", "" }, { "HideMousePointer", "-1" } };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(std::string(name) + "=" + value);
        auto [vc, webView] = start(std::string("<preference name=\"") + name + "\" value=\"" + value + "\"/>");
        const std::string logged = std::string("ERROR: ") + name + " '" + value + "' ";
        EXPECT_EQ(std::ranges::count_if(m_log.lines(), [&](const auto& line) { return line.starts_with(logged); }), 1);
        EXPECT_EQ(std::tuple(vc->cfgFullScreen(), vc->cfgWindowSize().width, vc->hideMousePointerTimeout()),
            std::tuple(false, 0.0, std::nullopt));
    }

    env().setDirectoryFailure(Error { 13, "Permission denied" });
    auto [vc, webView] = start(R"(<preference name="WindowSize" value="0x600"/>)");
    EXPECT_EQ(m_log.count("error finding app support directory Permission denied"), 1u);
    EXPECT_EQ(webView.prefs.localStorageDatabasePath, env().userDataPath() + "/org.penwick.Test");
    // A folder the engine can make there: nothing to warn of. One below a file: it cannot.
    EXPECT_EQ(std::ranges::count_if(m_log.lines(), [](const auto& line) { return line.starts_with("local storage cannot"); }), 0);
    const std::string belowAFile = env().resourcePath() + "/config.xml/ls";
    const auto stored = start("<preference name=\"OSXLocalStoragePath\" value=\"" + belowAFile + "\"/>");
    EXPECT_EQ(m_log.count("local storage cannot be kept in '" + belowAFile + "' (" + belowAFile
                  + ": Not a directory): what pages store there is lost when the app quits"),
        1u);
    vc->onAppDidFinishLaunching();
    EXPECT_EQ(std::pair(m_window.background.r, m_window.background.a), std::pair(0.0, 1.0));
    EXPECT_EQ(webView.drawsBackground, platform::DrawsBackground::No);
    using enum test::RecordingWindow::Call;
    EXPECT_EQ(m_window.calls, (std::vector { SetBackground, ShowAndMakeKey, ActivateApplication }));
}

// What a web process says of a document is checked against where it can be: a main frame has no
// parent to share an origin with, and only the app's own content can frame its local schemes. The
// app's page as the main frame keeps the bridge whoever opened it (it may be gone back to from a web page).
TEST_F(ViewControllerTest, ADocumentTheAppsContentCannotHaveOpenedGetsNoBridge)
{
    test::NoDialogs dialogs;
    env().writeResource("www/index.html", "");
    auto [vc, webView] = start(R"(<preference name="AppOrigin" value="true"/>)");
    WHWebViewDelegate delegate(dialogs);
    delegate.setViewController(vc.get());
    using enum platform::DocumentOpener;
    const std::string app = "app://org.penwick.test/index.html", file = "file://" + env().resourcePath() + "/www/index.html";
    // Whether it is the main frame, the document's URL, its owner, who opened it, whether it gets the bridge.
    const std::tuple<bool, std::string, std::string, platform::DocumentOpener, bool> cases[]
        = { { true, app, "", Other, true }, { false, app, "", App, true }, { false, "about:srcdoc", app, App, true },
              { false, file, "", App, true }, { true, "about:blank", app, App, false }, { true, "about:blank", file, Other, false },
              { false, app, "", Other, false }, { false, file, "", Other, false }, { false, "about:srcdoc", app, Other, false },
              { false, "whfile://localhost/persistent/a.html", "", Other, false } };
    for (const auto& [main, url, owner, opener, bridged] : cases) {
        platform::WindowObject window { .mainFrame = main, .url = url, .owner = owner, .opener = opener };
        delegate.didClearWindowObject(window);
        EXPECT_EQ(window.bridgeExposure == platform::BridgeExposure::Installed, bridged) << url << " " << owner;
    }
}

// Page-supplied text in log lines: control characters and text-hiding characters escaped, URLs
// anywhere without query values or user info, long URLs and lines cut, the rest unchanged; a console value too
// deep to write (writing recurses once per level) is named instead; no character is lost on a console
// that is not UTF-8.
TEST(WebViewDelegate, LogLinesEscapeHiddenCharactersRedactAndCutURLsNameTooDeepValuesAndKeepEveryCharacter)
{
    const std::string url = "data:," + std::string(5000, 'a');
    const std::string words(2000, 'w');
    auto nested = [](int levels) { return Value::parse(std::string(levels, '[') + std::string(levels, ']')); };
    const std::pair<std::string, std::string> cases[] = {
        // A newline in page text would start a line of the page's making.
        { "to file:///a b\n\tc\r\n", "to file:///a b\\x0A\\x09c\\x0D\\x0A" },
        { std::string("/a\0b \x1b[31m\x7f", 11), "/a\\x00b \\x1B[31m\\x7F" },
        { "to " + url + " now", "to " + url.substr(0, 256) + "... (5006 bytes) now" },
        { "at '" + url + "'", "at '" + url.substr(0, 255) + "... (5008 bytes)" },
        { "a\u202Egnp.exe \u2066x\u2069 \u2028\u2029 z\u200Bw\uFEFF \u00e9\xC2\x9B[2J \xFF",
            "a\\u202Egnp.exe \\u2066x\\u2069 \\u2028\\u2029 z\\u200Bw\\uFEFF \u00e9\\u009B[2J \\xFF" },
        { "Fetch API cannot load https://a.example/x?token=t0k&v=1. (x)",
            "Fetch API cannot load https://a.example/x?token=\u2026&v=\u2026. (x)" },
        { "args: --dev-url='http://u:pw@127.0.0.1:5/#k=v' ?a=b", "args: --dev-url='http://\u2026@127.0.0.1:5/#k=\u2026' ?a=b" },
        // URLs keep the names of their query and fragment parameters, not the values.
        { "https://site.example/bdsocial/desktop.html?code=s3cret&state=xyz",
            "https://site.example/bdsocial/desktop.html?code=\u2026&state=\u2026" },
        { "https://a.example/cb#access_token=t0k&token_type=bearer", "https://a.example/cb#access_token=\u2026&token_type=\u2026" },
        { "https://a.example/p?flag&x=1=2;y=#frag", "https://a.example/p?flag&x=\u2026;y=\u2026#frag" },
        { "https://a.example/a@b file:///tmp/x.html", "https://a.example/a@b file:///tmp/x.html" },
        { words + " " + words + " " + words, words + " " + words + " " + words.substr(0, 94) + "... (line of 6002 bytes)" },
        { WHConsole::description(nested(1000)), std::string(1000, '[') + std::string(1000, ']') },
        { WHConsole::description(nested(100000)), "(a value nested more than 1000 levels deep)" },
    };
    for (const auto& [line, logged] : cases) {
        test::LogCapture log;
        log::message(line);
        EXPECT_EQ(log.lines(), std::vector<std::string> { logged });
    }

    // Written to the console itself: where its charset is not UTF-8 (this test's C locale), the other
    // characters are escaped, not replaced by "?".
    const std::string line = "caf\u00e9 \u2026 \U0001F600";
    testing::internal::CaptureStderr();
    log::identifyAs("org.penwick.Test");
    log::message(line);
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_NE(written.find(g_get_console_charset(nullptr) ? line : "caf\\u00E9 \\u2026 \\U0001F600"), std::string::npos) << written;
}

} // namespace
