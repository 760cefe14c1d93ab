#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "channel/ChannelConnection.h"
#include "channel/ChannelProtocol.h"
#include "platform/WebView.h"
#include "platform/WebViewClient.h"
#include "platform/gtk/GtkCrashRecovery.h"
#include "platform/gtk/GtkDropTracker.h"
#include "platform/gtk/GtkInputOrigin.h"
#include "platform/gtk/GtkFileReach.h"
#include "platform/gtk/GtkPageClose.h"
#include "platform/gtk/GtkPageChannel.h"

namespace penwick::platform {

class GtkEngineContext;
class GtkPermissionRequests;

// The host's web view on WebKitGTK. The engine's view is created on first need (the first
// setPreferences() or the first turn of the main loop after a load request), because the
// local-storage folder of the shared engine context can only be given when that is made. Every
// web view of the application uses the same engine context; each gets the bridge only through its
// own client. The page channel hands the frames about its page to its GtkPageChannel.
class GtkWebView final : public WebView {
public:
    // `container` is the widget the web view fills (a GtkBin); it is kept alive by its window.
    // The application's engine context serves it.
    GtkWebView(GtkWidget* container, GtkEngineContext& engine);
    ~GtkWebView() override;

    void loadRequest(const std::string& url) override;
    void loadHTMLString(const std::string& html) override;
    void evaluateScript(const std::string& script) override;
    void evaluateAnswer(const std::string& script, std::uint64_t contextId) override;
    bool evaluateInAppDocument(const std::string& script) override
    {
        auto context = m_pageChannel.contexts().appContextOf(m_pageChannel.mainFrame());
        if (context)
            evaluateAnswer(script, *context);
        return context.has_value();
    }
    Result<NativeCallbackDelivery> deliverNativeCallback(const NativeCallbackAnswer& answer) override
    {
        return m_pageChannel.deliverNativeCallback(answer);
    }
    Result<NativeCallbackDelivery> deliverAnswer(const CallbackAnswerText& answer) override { return m_pageChannel.deliverAnswer(answer); }
    bool takesEncodedAnswers() const override { return true; }
    Result<NativeCallbackDelivery> deliverEncodedAnswer(const EncodedAnswer& answer) override
    {
        return m_pageChannel.deliverEncodedAnswer(answer);
    }
    WebPreferences preferences() const override { return m_prefs; }
    void setPreferences(const WebPreferences& prefs) override;
    void setDrawsBackground(DrawsBackground draws) override;
    void acceptAllCookies() override;
    void setClient(WebViewClient* client) override { m_client = client; }
    WebViewClient* client() const { return m_client; }
    // The main frame shows the app's own content.
    bool mainDocumentIsAppContent() const { return m_mainDocumentAppContent; }
    void setDeveloperExtras(DeveloperExtras extras) override;
    void reload() override;
    void showInspector() override;
    void setZoom(ZoomKeys keys, double level) override;
    void tryClose() override;

    // Closing `window` (its close button, Alt+F4, the desktop's close request) asks the page first,
    // as tryClose() does; `closed` runs once the page has agreed.
    void closeThroughPage(GtkWindow* window, std::function<void()> closed);

    // Hooks for the parts that work on the engine's objects directly: called once the view and
    // its context exist (right away when they already do).
    using CreatedHook = std::function<void(WebKitWebView*, WebKitWebContext*)>;
    void whenCreated(CreatedHook hook);
    // Main-frame load finished (true) or failed (false).
    // Called when the main frame has finished loading, with why it failed when it did.
    void setLoadFinishedHandler(std::function<void(std::optional<std::string> failure)> handler) { m_loadFinished = std::move(handler); }

    WebKitWebView* view() const { return m_view; }
    // Whether the page is the app's own content now, so that every document in it that may load a
    // local scheme is too; or `uri` is the host's own load of the main frame. False once the view
    // is gone. For the file schemes, which learn only the view a request came from.
    std::function<bool(std::string_view uri)> contentStanding() const;
    WebKitWebContext* context() const { return m_view ? webkit_web_view_get_context(m_view) : nullptr; }

    // The engine's id of the page (0 while there is no view).
    std::uint64_t pageId() const { return m_view ? webkit_web_view_get_page_id(m_view) : 0; }

private:
    void connectClientSignals();
    // The app's own keys and wheel on the view: history, zoom.
    void connectAppKeys();
    bool appKey(const GdkEventKey& event);
    void zoomBy(int steps);
    // The request of a navigation, with what the view knows beyond the engine's action.
    NavigationRequest navigationRequest(WebKitNavigationAction* action);
    // Every document the page shows is the app's own.
    bool onlyAppContent() const;
    NavigationChooser chooser() const
    {
        return m_inputOrigin.otherSiteHadInput() ? NavigationChooser::MaybeForeignFrame : NavigationChooser::PageOrUser;
    }
    void webProcessTerminated(WebKitWebProcessTerminationReason reason);

    void ensureView();
    void scheduleCreation();
    void applySettings();
    void runPendingLoad();

    GtkWidget* m_container = nullptr;
    GtkEngineContext& m_engine;
    WebKitWebView* m_view = nullptr; // owned by the container
    bool m_viewGone = false;
    WebPreferences m_prefs;
    bool m_drawsBackground = true;
    bool m_acceptAllCookies = false;
    enum class PendingLoad { None, Url, Html } m_pendingLoad = PendingLoad::None;
    std::string m_pendingContent;
    std::vector<std::string> m_pendingScripts;
    std::vector<CreatedHook> m_createdHooks;
    std::function<void(std::optional<std::string>)> m_loadFinished;
    std::optional<std::string> m_loadError;
    unsigned m_creationSource = 0;
    SignalConnection m_destroyed;
    SignalConnection m_loadChanged;
    SignalConnection m_loadFailed;
    SignalConnection m_keyPress;
    SignalConnection m_processTerminated;
    SignalConnection m_pageClaim;
    SignalConnection m_decidePolicy;
    SignalConnection m_scriptDialog;
    SignalConnection m_fileChooser;
    SignalConnection m_createWindow;
    SignalConnection m_inspectorAttach;
    SignalConnection m_contextMenu;
    SignalConnection m_scroll;
    SignalConnection m_buttonPress;
    SignalConnection m_windowDelete;

    GtkDropTracker m_drops;
    ZoomKeys m_zoomKeys = ZoomKeys::Off;
    double m_zoomLevel = 1.0;
    GtkPageClose m_pageClose;

    WebViewClient* m_client = nullptr;
    std::unique_ptr<GtkPermissionRequests> m_permissions;
    bool m_developerExtras = false;
    GtkFileReach m_fileReach;
    // The main frame's document is the app's own content; a document it navigates to was put there
    // by the app.
    bool m_mainDocumentAppContent = false;
    // The URL (no fragment) of the host's own latest main-frame load, until its document comes.
    std::string m_hostLoadURL;
    // The last main-frame document whose response the view let through.
    std::string m_acceptedMainDocumentURL;
    // The main frame's document shown now: the view's address runs ahead of it during a load.
    std::string m_committedURL;
    // Whether the user's input has gone to a frame of another origin than the main frame's
    // document, which the engine then lets navigate the main frame (kForeignActivationMessage).
    GtkInputOrigin m_inputOrigin;
    // A handle on this view that callers outside its lifetime hold weakly.
    std::shared_ptr<GtkWebView*> m_self = std::make_shared<GtkWebView*>(this);
    bool m_extensionMissingLogged = false;
    GtkCrashRecovery m_crashRecovery;
    // Reads the page's standing and view.
    friend class GtkPageChannel;
    GtkPageChannel m_pageChannel;
};

} // namespace penwick::platform
