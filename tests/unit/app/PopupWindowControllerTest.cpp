// Which popup navigations hand their URL to the main page; the log lines and the script the main
// page runs are checked end to end.
#include <gtest/gtest.h>

#include "app/PopupWindowController.h"
#include "support/LogCapture.h"
#include "support/RecordingWebView.h"

namespace penwick {
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

TEST(PopupPolicy, TheLandingPageHandsItsURLToTheMainPageAndClosesThePopup)
{
    const std::pair<std::string, bool> cases[] = { // the URL, whether it is handed over
        { kLanding + "?code=x", true },
        { kLanding, true },
        { "https://www.site.example/bdsocial/other.html", false },
        { "http://www.site.example/bdsocial/desktop.html?code=x", false }, // the prefix names https
        { "https://evil.example/?" + kLanding, false },
    };
    for (const auto& [url, handsOver] : cases) {
        test::LogCapture log;
        auto window = std::make_unique<FakePopupWindow>();
        auto* popup = window.get();
        test::RecordingWebView main;
        PopupWindowController controller(std::move(window), kLanding, nullptr);
        controller.setGWebView(&main);
        controller.showWindow();
        EXPECT_EQ(controller.decidePolicyForNavigation(url), platform::PolicyDecision::Use) << url;
        EXPECT_EQ(popup->visible, !handsOver) << url;
        EXPECT_EQ(main.scripts().size(), handsOver ? 1u : 0u) << url;
    }
}

} // namespace
} // namespace penwick
