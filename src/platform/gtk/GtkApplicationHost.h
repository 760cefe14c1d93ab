#pragma once

#include <memory>
#include <string>

#include "platform/ApplicationHost.h"
#include "platform/glib/InstallLayout.h"

namespace penwick::platform {

class GtkChannelServer;

// The application host on GTK: the GtkApplication and its lifecycle (one instance per id, the
// signals that end it), the main window, web view and dialogs on GTK and WebKitGTK, and the page
// channel and engine context they share, which it makes and owns. This header includes no GTK
// header, so that the process entry can use it.
class GtkApplicationHost final : public ApplicationHost {
public:
    explicit GtkApplicationHost(AppIdentity identity);
    ~GtkApplicationHost() override;
    GtkApplicationHost(const GtkApplicationHost&) = delete;
    GtkApplicationHost& operator=(const GtkApplicationHost&) = delete;

    int run(ApplicationLifecycle& lifecycle, const LaunchOptions& options) override;
    void quit(int exitCode) override;
    std::unique_ptr<Window> createMainWindow(const std::string& title, int width, int height) override;
    std::unique_ptr<WebView> createWebView(Window& window) override;
    std::unique_ptr<Dialogs> createDialogs(Window& parent) override;
    std::unique_ptr<SavePanel> createSavePanel(Window& parent) override;
    std::unique_ptr<PopupWindow> createPopupWindow(int width, int height) override;
    DisplayServices& displayServices() override;
    void addAction(const std::string& name, const std::vector<std::string>& accelerators, std::function<void()> handler) override;
    void addMenuItem(const std::string& label, const std::string& name) override;
    void present(Window& window) override;
    void captureWhenLoaded(WebView& webView, const LaunchOptions& options) override;
    void startPageFailed(const std::string& reason) override;
    void serveFiles(const SchemeRules& rules, const FileSource& source, WorkQueue& workQueue, Scheduler& scheduler) override;

    // The page channel of every web view; test builds lower its size limit before the first one.
    GtkChannelServer& channelServer();
    // Lets the web processes offer SharedArrayBuffer (see GtkEngineContext). Call before the host
    // is made, while the process has one thread.
    static void enableSharedArrayBuffer();

private:
    struct State;
    AppIdentity m_identity;
    std::unique_ptr<State> m_state;
};

} // namespace penwick::platform
