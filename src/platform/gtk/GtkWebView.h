#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "channel/ChannelConnection.h"
#include "channel/ChannelProtocol.h"
#include "channel/PageEndpoint.h"
#include "platform/WebView.h"
#include "platform/WebViewClient.h"

namespace penwick::platform {

class GtkEngineContext;
class GtkPermissionRequests;

// The host's web view on WebKitGTK. The engine's view is created on first need (the first
// setPreferences() or the first turn of the main loop after a load request), because the
// local-storage folder of the shared engine context can only be given when that is made. Every
// web view of the application uses the same engine context; each gets the bridge only through its
// own client. The page channel hands it the frames about its page.
class GtkWebView final : public WebView, public channel::PageEndpoint {
public:
    // `container` is the widget the web view fills (a GtkBin); it is kept alive by its window.
    // The application's engine context serves it.
    GtkWebView(GtkWidget* container, GtkEngineContext& engine);
    ~GtkWebView() override;

    void loadRequest(const std::string& url) override;
    void loadHTMLString(const std::string& html) override;
    void evaluateScript(const std::string& script) override;
    void evaluateAnswer(const std::string& script, std::uint64_t contextId) override;
    Result<NativeCallbackDelivery> deliverNativeCallback(const NativeCallbackAnswer& answer) override;
    Result<NativeCallbackDelivery> deliverAnswer(const CallbackAnswerText& answer) override;
    bool takesEncodedAnswers() const override { return true; }
    Result<NativeCallbackDelivery> deliverEncodedAnswer(const EncodedAnswer& answer) override;
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

    // The channel to the web-process extension routes here (ChannelConnection).
    std::uint64_t pageId() const override { return m_view ? webkit_web_view_get_page_id(m_view) : 0; }
    // Only the web process that claimed the page last speaks for it.
    bool hostedBy(const std::string& credential) const override { return !credential.empty() && credential == m_hostCredential; }
    // A frame of this page has a fresh window object: asks the client what it gets and answers
    // the set-up for the extension. It replaces the frame's previous context.
    channel::ContextSetup didCreateScriptContext(std::shared_ptr<channel::ChannelConnection> connection,
        std::uint64_t contextId, const channel::NewContext& notice) override;
    // Calls from a context are taken only from the web process that announced it.
    void execInContext(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ExecCall&& call) override;
    // A call too large for the channel: logged, and answered with an error result.
    void execTooLarge(const channel::ChannelConnection& from, std::uint64_t contextId, const channel::ExecTooLarge& call,
        std::size_t limit) override;
    void consoleInContext(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ConsoleCall&& call) override;
    void engineConsoleMessage(const channel::EngineConsole& message) override;
    // The frame went away; its context is forgotten.
    void frameGone(std::uint64_t frame) override;
    // True when the closed connection served this page.
    bool connectionClosed(const channel::ChannelConnection& connection) override;

private:
    struct ScriptContext {
        std::uint64_t frame = 0;
        std::shared_ptr<ScriptBridgeObject> hostbridge;
        std::shared_ptr<ScriptConsoleObject> console;
        // The web process that announced the context; only it speaks for the context.
        const channel::ChannelConnection* connection = nullptr;
        std::weak_ptr<channel::ChannelConnection> channel;
        // The document is the app's own content (documents it opens are the app's too).
        bool appContent = false;
        std::string url;
    };
    void forgetFrame(std::uint64_t frame);
    // The live context `contextId` when `from` announced it.
    ScriptContext* contextFrom(const channel::ChannelConnection& from, std::uint64_t contextId);
    // Why a context the process announces cannot be the page's (a main-frame document not at the
    // page's address, a sub-frame whose parent that process did not announce), or nothing.
    std::optional<std::string> contextRefusal(const channel::ChannelConnection& from, const channel::NewContext& notice) const;
    // The web process with this token says it hosts the page (its engine's message).
    void claimedBy(const std::string& credential);
    // Whether the host or the app's own content put the announced document in its frame.
    DocumentOpener openerOf(const channel::ChannelConnection& from, const channel::NewContext& notice) const;
    // One line for the answers dropped because their document is gone, once per such document.
    void answerDropped(std::uint64_t contextId);
    // The channel an answer for `contextId` leaves by; none with `otherwise` saying why (Sent: the
    // document is gone and the answer is dropped).
    std::shared_ptr<channel::ChannelConnection> answerChannel(std::uint64_t contextId, NativeCallbackDelivery& otherwise);

    void connectClientSignals();
    // The app's own keys and wheel on the view: history, zoom.
    void connectAppKeys();
    bool appKey(const GdkEventKey& event);
    void zoomBy(int steps);
    // Without developer extras the page's menu keeps what an app offers: editing and copying.
    static void trimContextMenu(WebKitContextMenu* menu);
    // The request of a navigation, with what the view knows beyond the engine's action.
    NavigationRequest navigationRequest(WebKitNavigationAction* action);
    // Every document the page shows is the app's own.
    bool onlyAppContent() const;
    // Lets the main frame's next document read files of its own folder, or not.
    void setFileAccess(bool allowed);
    // Tells the web process which file: URLs the main frame's document at `url` may reach once it
    // is shown: the web content folder and the file plugin's folders ("/" for the whole disk) for
    // the app's own pages, anything (none) otherwise, where the engine's own rules refuse other
    // files. `url` itself may load.
    void announceFileReach(const char* url);
    // The folders the app's document at `url` may read (["/"]: the whole disk), none for others.
    std::vector<std::string> fileReachOf(const std::string& url);
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
    bool m_prefsApplied = false;
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
    SignalConnection m_dragData;
    SignalConnection m_drop;
    SignalConnection m_buttonPress;
    SignalConnection m_closeSignal;
    SignalConnection m_windowDelete;

    // The URLs of the latest drop, until the user does something else: the engine shows a drop
    // the page did not take by navigating there.
    std::vector<std::string> m_draggedURLs;
    std::vector<std::string> m_droppedURLs;
    ZoomKeys m_zoomKeys = ZoomKeys::Off;
    double m_zoomLevel = 1.0;
    std::function<void()> m_closed;
    // Asked: a close was asked of the page, not answered nor put to the user yet. Question: the
    // page's leave-page question is up.
    enum class CloseState { None, Asked, Question } m_close = CloseState::None;
    std::uint64_t m_mainFrame = 0;

    WebViewClient* m_client = nullptr;
    std::unique_ptr<GtkPermissionRequests> m_permissions;
    bool m_developerExtras = false;
    // fileReachOf() the main frame's document.
    std::vector<std::string> m_documentReach;
    // The objects set on each live frame's window object, by context id, and each frame's one
    // context. A frame's new context replaces its old one; a frame that goes away takes its context
    // with it. (A page restored from the back-forward cache keeps a bridge the host no longer
    // serves; its calls are refused with a log line.)
    std::map<std::uint64_t, ScriptContext> m_scriptContexts;
    std::map<std::uint64_t, std::uint64_t> m_frameContexts;
    std::size_t m_contextsReported = 0;
    // The main frame's document is the app's own content; a document it navigates to was put there
    // by the app.
    bool m_mainDocumentAppContent = false;
    // The URL (no fragment) of the host's own latest main-frame load, until its document comes.
    std::string m_hostLoadURL;
    // The last main-frame document whose response the view let through.
    std::string m_acceptedMainDocumentURL;
    std::uint64_t m_lastDroppedContext = 0;
    // The web process that shows this page's main frame; results travel to it.
    std::weak_ptr<channel::ChannelConnection> m_mainConnection;
    // The token of the web process that hosts the page, as its last claim said.
    std::string m_hostCredential;
    // The user has interacted with a frame of another origin than the main frame's document, which
    // the engine then lets navigate the main frame (kForeignActivationMessage).
    bool m_foreignFrameActivated = false;
    // A handle on this view that callers outside its lifetime hold weakly.
    std::shared_ptr<GtkWebView*> m_self = std::make_shared<GtkWebView*>(this);
    bool m_extensionSeen = false;
    bool m_extensionMissingLogged = false;
    std::chrono::steady_clock::time_point m_lastAutomaticReload {};
    // The address of the page that lost its web process twice, while a page offering to reload it
    // stands there (F5 reloads it); shown once that page has committed.
    std::string m_lostPage;
    bool m_lostPageShown = false;
};

} // namespace penwick::platform
