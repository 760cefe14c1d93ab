// The popup's navigation policy and the script that hands the landing URL to the main page.
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
    const struct {
        std::string url;
        bool handsOver;
    } cases[] = {
        { kLanding + "?code=x", true },
        { kLanding, true },
        { "https://www.site.example/bdsocial/other.html", false },
        { "http://www.site.example/bdsocial/desktop.html?code=x", false }, // the prefix names https
        { "https://evil.example/?" + kLanding, false },
    };
    for (const auto& c : cases) {
        test::LogCapture log;
        auto window = std::make_unique<FakePopupWindow>();
        auto* popup = window.get();
        test::RecordingWebView main;
        PopupWindowController controller(std::move(window), kLanding, nullptr);
        controller.setGWebView(&main);
        controller.showWindow();
        EXPECT_EQ(controller.decidePolicyForNavigation(c.url), platform::PolicyDecision::Use) << c.url;
        EXPECT_TRUE(log.contains("url policy.............>>>>>>>>>>>>...." + c.url)) << c.url;
        EXPECT_EQ(popup->visible, !c.handsOver) << c.url;
        if (c.handsOver) {
            std::string script = PopupWindowController::snsLoginScript(c.url);
            EXPECT_EQ(main.scripts(), std::vector<std::string> { script }) << c.url;
            EXPECT_TRUE(log.contains("script.." + script)) << c.url;
        } else {
            EXPECT_TRUE(main.scripts().empty()) << c.url;
        }
    }
}

} // namespace
} // namespace penwick
