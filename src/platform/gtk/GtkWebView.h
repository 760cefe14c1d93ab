#pragma once

#include <functional>
#include <string>
#include <vector>
#include <webkit2/webkit2.h>

#include "platform/GRef.h"
#include "platform/WebView.h"

namespace penwick::platform {

// The host's web view on WebKitGTK. The engine's view is created on first need (the first
// setPreferences() or the first turn of the main loop after a load request), because the
// local-storage folder of its website data manager can only be given at creation.
class GtkWebView final : public WebView {
public:
    // `container` is the widget the web view fills (a GtkBin); it is kept alive by its window.
    explicit GtkWebView(GtkWidget* container);
    ~GtkWebView() override;

    void loadRequest(const std::string& url, std::chrono::seconds timeout) override;
    void loadHTMLString(const std::string& html) override;
    void evaluateScript(const std::string& script) override;
    WebPreferences preferences() const override { return m_prefs; }
    void setPreferences(const WebPreferences& prefs) override;
    void setDrawsBackground(DrawsBackground draws) override;
    void acceptAllCookies() override;

    // Hooks for the parts that work on the engine's objects directly: called once the view and
    // its context exist (right away when they already do).
    using CreatedHook = std::function<void(WebKitWebView*, WebKitWebContext*)>;
    void whenCreated(CreatedHook hook);
    // Main-frame load finished (true) or failed (false).
    void setLoadFinishedHandler(std::function<void(bool)> handler) { m_loadFinished = std::move(handler); }

    WebKitWebView* view() const { return m_view; }
    WebKitWebContext* context() const { return m_context.get(); }

private:
    void ensureView();
    void scheduleCreation();
    void applySettings();
    void runPendingLoad();

    GtkWidget* m_container = nullptr;
    WebKitWebView* m_view = nullptr; // owned by the container
    GRef<WebKitWebContext> m_context;
    GRef<WebKitWebsiteDataManager> m_dataManager;
    WebPreferences m_prefs;
    bool m_prefsApplied = false;
    bool m_drawsBackground = true;
    bool m_acceptAllCookies = false;
    enum class PendingLoad { None, Url, Html } m_pendingLoad = PendingLoad::None;
    std::string m_pendingContent;
    std::vector<std::string> m_pendingScripts;
    std::vector<CreatedHook> m_createdHooks;
    std::function<void(bool)> m_loadFinished;
    unsigned m_creationSource = 0;
    SignalConnection m_loadChanged;
    SignalConnection m_loadFailed;
    SignalConnection m_processTerminated;
};

} // namespace penwick::platform
