// The application's own teardown, on a desktop of stand-ins: work still queued when it goes runs
// while the services it uses are there. Under AddressSanitizer a task that ran after them would
// read freed memory.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "app/Application.h"
#include "support/RecordingDesktop.h"
#include "support/RecordingWebView.h"
#include "support/TestPlatform.h"

using namespace penwick;

namespace {

struct NoSavePanel final : platform::SavePanel {
    std::optional<std::string> runSavePanel(const std::string&) override { return std::nullopt; }
    void runErrorAlert(const std::string&) override { }
};

class StandInHost final : public platform::ApplicationHost {
public:
    int run(platform::ApplicationLifecycle&, const platform::LaunchOptions&) override { return 0; }
    void quit(int) override { }
    std::unique_ptr<platform::Window> createMainWindow(const std::string&, int, int) override
    {
        return std::make_unique<test::RecordingWindow>();
    }
    std::unique_ptr<platform::WebView> createWebView(platform::Window&) override { return std::make_unique<test::RecordingWebView>(); }
    std::unique_ptr<platform::Dialogs> createDialogs(platform::Window&) override { return std::make_unique<test::NoDialogs>(); }
    std::unique_ptr<platform::SavePanel> createSavePanel(platform::Window&) override { return std::make_unique<NoSavePanel>(); }
    platform::DisplayServices& displayServices() override { return m_display; }
    void addAction(const std::string&, const std::vector<std::string>&, std::function<void()>) override { }
    void addMenuItem(const std::string&, const std::string&) override { }
    void present(platform::Window&) override { }
    void captureWhenLoaded(platform::WebView&, const platform::LaunchOptions&) override { }
    void startPageFailed(const std::string&) override { }
    void serveFiles(const platform::SchemeRules&, const platform::FileSource& source, platform::WorkQueue& workQueue,
        platform::Scheduler& scheduler) override
    {
        served = { &source, &workQueue, &scheduler };
    }
    std::unique_ptr<platform::PopupWindow> createPopupWindow(int, int) override { return nullptr; }

    std::tuple<const platform::FileSource*, platform::WorkQueue*, platform::Scheduler*> served {};

private:
    test::FakeScreens m_screens { { { 0, 0, 1280, 1024 } }, 0 };
    test::RecordingDisplay m_pointer;
    platform::DisplayServices m_display { m_screens, m_pointer, m_pointer };
};

TEST(Application, FileWorkQueuedAtExitRunsWhileTheFileSourceAndThePlatformAreThere)
{
    StandInHost host;
    test::FakeAppEnvironment folders; // an empty resource folder: no configuration, no plugins
    constexpr int kTasks = 32;
    std::atomic<int> done = 0;
    {
        Application application(host, { .id = "org.penwick.Test" }, { .resourcePath = folders.resourcePath() });
        application.startup();
        const auto [source, workQueue, scheduler] = host.served;
        ASSERT_TRUE(source);
        // As the whfile scheme does: find the file on the work queue, then hop back to the main loop.
        for (int i = 0; i < kTasks; ++i) {
            workQueue->submit([source = source, scheduler = scheduler, &done] {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                (void)source->fileForURL("whfile://localhost/temporary/a.txt");
                scheduler->post([] {});
                ++done;
            });
        }
    }
    EXPECT_EQ(done, kTasks);
}

} // namespace
