#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "platform/WebView.h"
#include "platform/WebViewClient.h"

namespace penwick::platform {

class GtkChannelConnection;

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
    void setClient(WebViewClient* client) override { m_client = client; }
    void setDeveloperExtras(DeveloperExtras extras) override;

    // Hooks for the parts that work on the engine's objects directly: called once the view and
    // its context exist (right away when they already do).
    using CreatedHook = std::function<void(WebKitWebView*, WebKitWebContext*)>;
    void whenCreated(CreatedHook hook);
    // Main-frame load finished (true) or failed (false).
    void setLoadFinishedHandler(std::function<void(bool)> handler) { m_loadFinished = std::move(handler); }

    WebKitWebView* view() const { return m_view; }
    WebKitWebContext* context() const { return m_context.get(); }

    // The channel to the web-process extension routes here (GtkChannelServer).
    std::uint64_t pageId() const { return m_view ? webkit_web_view_get_page_id(m_view) : 0; }
    // A frame of this page has a fresh window object: asks the client what it gets and answers
    // the set-up for the extension (JSON).
    std::string didCreateScriptContext(std::shared_ptr<GtkChannelConnection> connection, std::uint64_t contextId,
        std::string_view notice);
    void execInContext(std::uint64_t contextId, std::string_view call);
    void consoleInContext(std::uint64_t contextId, std::string_view call);
    void engineConsoleMessage(std::string_view message);
    // True when the closed connection served this page.
    bool connectionClosed(const GtkChannelConnection& connection);

private:
    struct ScriptContext {
        std::shared_ptr<ScriptBridgeObject> hostbridge;
        std::shared_ptr<ScriptConsoleObject> console;
    };

    void connectClientSignals();
    void webProcessTerminated(WebKitWebProcessTerminationReason reason);

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
    SignalConnection m_decidePolicy;
    SignalConnection m_scriptDialog;
    SignalConnection m_fileChooser;

    WebViewClient* m_client = nullptr;
    bool m_developerExtras = false;
    // The objects set on each window object, by context id; old ones are let go past a bound
    // (a page in the back-forward cache may still call its bridge, and then finds none).
    std::map<std::uint64_t, ScriptContext> m_scriptContexts;
    // The web process that shows this page's main frame; results travel to it.
    std::weak_ptr<GtkChannelConnection> m_mainConnection;
    bool m_extensionSeen = false;
    bool m_extensionMissingLogged = false;
    std::chrono::steady_clock::time_point m_lastAutomaticReload {};
};

} // namespace penwick::platform
