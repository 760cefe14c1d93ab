// Which popup navigations hand their URL to the main page; the log lines and the script the main
// page runs are checked end to end.
#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>

#include "app/PopupWindowController.h"
#include "app/WHPenwick.h"
#include "platform/UrlOpener.h"
#include "support/LogCapture.h"
#include "support/RecordingWebView.h"
#include "support/TempDir.h"

using namespace penwick;

namespace {

class FakePopupWindow final : public platform::PopupWindow {
public:
    platform::WebView& webView() override { return view; }
    void show() override { visible = true; }
    void close() override { visible = false; }
    bool isVisible() const override { return visible; }

    test::RecordingWebView view;
    bool visible = false;
};

const std::string kLanding = "https://www.site.example/bdsocial/desktop.html";

} // namespace

// Only the popup reaching the landing page hands its URL over, and only web pages (and blank or
// script-made frames) load. A landing page that a frame of another origin chose, or reached while the
// main window shows another site, is handed to no one: checked end to end, as users meet it.
TEST(PopupPolicy, OnlyThePopupReachingTheLandingPageHandsItsURLToTheMainPageAndOnlyWebPagesLoad)
{
    using D = platform::PolicyDecision;
    using Scripts = std::vector<std::string>;
    // The URL, whether it is handed over when the main frame starts loading it, the decision. Which
    // URLs the popup refuses is the next test's table; a redirect chain handing over one URL, and a
    // popup shown again handing over again, are checked end to end.
    const std::tuple<std::string, bool, D> cases[] = { { kLanding + "?code=x", true, D::Use }, { kLanding, true, D::Use },
        { "https://www.site.example/bdsocial/other.html", false, D::Use },
        { "http://www.site.example/bdsocial/desktop.html?code=x", false, D::Use }, // the prefix names https
        { "https://evil.example/?" + kLanding, false, D::Use }, { "about:blank", false, D::Use },
        { "whfile://localhost/persistent/x.html", false, D::Ignore } };
    for (const auto& [url, handsOver, decision] : cases) {
        SCOPED_TRACE(url);
        test::LogCapture log;
        auto* popup = new FakePopupWindow;
        test::RecordingWebView main;
        PopupWindowController controller(std::unique_ptr<FakePopupWindow>(popup), kLanding, nullptr);
        controller.setGWebView(&main);
        controller.showWindow();
        EXPECT_EQ(controller.decidePolicyForNavigation(url), decision);
        EXPECT_TRUE(popup->visible && main.scripts().empty());
        EXPECT_EQ(log.count("refused to load " + url + " in the popup: only http and https pages load in the popup"),
            decision == D::Ignore ? 1u : 0u);
        controller.didStartMainFrameNavigation(url, platform::NavigationChooser::PageOrUser);
        EXPECT_EQ(popup->visible, !handsOver);
        EXPECT_EQ(main.scripts(), handsOver ? Scripts { PopupWindowController::snsLoginScript(url) } : Scripts {});
        // The log holds the landing URL's parameter names, not the code.
        for (const auto& line : log.lines())
            EXPECT_EQ(line.find("code=x"), std::string::npos) << line;
    }
}

// The desktop is handed web pages and mail only, of a bounded length, and mail links with their
// addresses and text only; the popup loads web pages only; the save dialog proposes a name only.
TEST(AppPlugin, TheOpenerThePopupAndTheSaveDialogTakeOnlyWhatTheyShould)
{
    const std::string longURL = "https://a.example/" + std::string(platform::UrlOpener::kMaxURLLength, 'x');
    // The URL, whether the desktop takes it, whether the popup takes it.
    const std::tuple<std::string, bool, bool> cases[] = { { "https://example.org/a?b=c", true, true },
        { "HTTP://example.org/", true, true }, { "mailto:ann@example.org", true, false }, { "", false, false }, { longURL, false, true },
        { "http:example.org", false, true }, { "javascript:alert(1)", false, false }, { "file:///etc/passwd", false, false },
        { "data:text/html,x", false, false }, { "whfile://localhost/root/etc/hostname", false, false },
        { "smb://host/share/x.desktop", false, false }, { "apt:vim", false, false }, { "example.org", false, false },
        { "https:///etc/passwd", false, true }, { "http://:80/", false, true }, { "https://ann@/x", false, true } };
    for (const auto& [url, desktop, popup] : cases)
        EXPECT_EQ(std::pair(!platform::UrlOpener::refusal(url), !PopupWindowController::refusal(url)), std::pair(desktop, popup))
            << url.substr(0, 64);

    // A mail program is handed addresses and text only, however the field names are spelled.
    const std::pair<const char*, const char*> mail[] = { { "mailto:a@x.org?attach=1", "mailto:a@x.org" },
        { "mailto:a@x.org?subject=Hi&attach=/etc/passwd&Body=b%20c#f", "mailto:a@x.org?subject=Hi&Body=b%20c" },
        { "MAILTO:a@x.org?%61ttach=x&cc=b@x.org&attachment=y&bcc", "MAILTO:a@x.org?cc=b@x.org&bcc" },
        { "https://x.org/?attach=1#f", "https://x.org/?attach=1#f" } };
    for (const auto& [url, handed] : mail)
        EXPECT_EQ(platform::UrlOpener::handedOver(url), handed) << url;

    // The save dialog proposes a file name, never a path a page chose.
    const std::pair<std::string, std::string> names[] = { { "report.pdf", "report.pdf" }, { "../../escape.txt", "escape.txt" },
        { "/etc/passwd.txt", "passwd.txt" }, { "a/.", "untitled" }, { "x/..", "untitled" }, { "dir/", "untitled" }, { "", "untitled" },
        { "..\\x.txt", "..\\x.txt" },
        // Controls become blanks; what hides or reorders text goes.
        { "a\nb\tc\x7f.txt", "a b c .txt" }, { "invoice\u202Etxt.exe", "invoicetxt.exe" }, { "\u2066\u200B", "untitled" },
        { "q\"uo'te %41 #?-x.txt", "q\"uo'te %41 #?-x.txt" }, { "\u0646\u0635 \u4e2d\U0001F642.txt", "\u0646\u0635 \u4e2d\U0001F642.txt" },
        // A name no file system takes (and a log line would carry whole) keeps its start and extension.
        { "dir/" + std::string(2000, 'n') + ".txt", std::string(251, 'n') + ".txt" },
        { std::string(254, 'a') + "\u00e9" + std::string(50, 'b'), std::string(254, 'a') } };
    for (const auto& [name, proposed] : names)
        EXPECT_EQ(WHPenwick::proposedFileName(name), proposed) << name.substr(0, 64);
}

// An export saved over a file keeps its mode: a private file stays private.
TEST(AppPlugin, AnExportKeepsTheModeOfTheFileItReplaces)
{
    const test::TempDir dir;
    const std::string path = dir.path + "/private.txt";
    const auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    test::writeFile(path, "old");
    std::filesystem::permissions(path, mode);
    ASSERT_TRUE(WHPenwick::writeExport(path, { 'n', 'e', 'w' }));
    EXPECT_EQ(std::pair(std::filesystem::status(path).permissions(), test::readFile(path)), std::pair(mode, std::string("new")));
}
