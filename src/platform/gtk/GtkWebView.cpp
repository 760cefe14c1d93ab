#include "platform/glib/GpuProbe.h"
#include "platform/gtk/GtkWebView.h"

#include <algorithm>
#include <exception>

#include "base/FileURLPath.h"
#include "base/Format.h"
#include "base/Log.h"
#include "base/Translate.h"
#include "channel/ChannelConnection.h"
#include "channel/FileReach.h"
#include "platform/gtk/GtkApplicationHost.h"
#include "platform/gtk/GtkChannelServer.h"
#include "platform/gtk/GtkEngineContext.h"
#include "platform/gtk/GtkPermissionRequests.h"

namespace penwick::platform {
namespace {
// A page with this many live script contexts (and each doubling beyond) is worth a log line: frames
// are being made faster than they go away.
constexpr size_t kManyScriptContexts = 64;
// A web process that dies again this soon after an automatic reload is not restarted again.
constexpr auto kAutomaticReloadInterval = std::chrono::seconds(10);
// Shown in place of a page whose web process died twice in a row. It stands at the lost page's
// address, so its button's reload loads that page again; F5 is handled by the web view.
// In the user's language; its texts come from the host's catalogues, not from a page.
std::string processLostPage()
{
    const char* dir = gtk_widget_get_default_direction() == GTK_TEXT_DIR_RTL ? "rtl" : "ltr";
    return format(R"html(<!DOCTYPE html>
<html dir="%@"><head><meta charset="utf-8"><title>%@</title>
<style>body{font:16px sans-serif;margin:15% auto;max-width:32em;text-align:center}button{font-size:16px;padding:.4em 1.2em}</style>
</head><body>
<h1>%@</h1>
<p>%@</p>
<p><button onclick="location.reload()" autofocus>%@</button></p>
<p>%@</p>
</body></html>)html",
        dir, translate("Page stopped"), translate("The page stopped working"),
        translate("Its web process ended twice in a row, so it was not started again by itself."), translate("Reload the page"),
        translate("or press F5."));
}

// Without a GPU (no render node, nor the device of a driver that has none) the engine's GL runs on
// the CPU (llvmpipe), where compositing is slower than the engine's own CPU painting and its
// painting and compositor threads sometimes crash inside the driver. Pages then paint on the CPU;
// WebGL keeps its own context.
bool hasGpu()
{
    static const bool s_found = machineHasGpu();
    return s_found;
}
} // namespace

GtkWebView::GtkWebView(GtkWidget* container, GtkEngineContext& engine)
    : m_container(container)
    , m_engine(engine)
{
    m_engine.channelServer().registerView(this);
}

GtkWebView::~GtkWebView()
{
    m_engine.channelServer().unregisterView(this);
    if (m_creationSource)
        g_source_remove(m_creationSource);
}

std::function<bool(std::string_view)> GtkWebView::contentStanding() const
{
    return [self = std::weak_ptr<GtkWebView*>(m_self)](std::string_view uri) {
        auto view = self.lock();
        if (!view)
            return false;
        const GtkWebView& v = **view;
        return v.m_mainDocumentAppContent || (!v.m_hostLoadURL.empty() && uri.substr(0, uri.find('#')) == v.m_hostLoadURL);
    };
}

void GtkWebView::scheduleCreation()
{
    if (m_view || m_creationSource)
        return;
    m_creationSource = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            self->m_creationSource = 0;
            self->ensureView();
            return G_SOURCE_REMOVE;
        },
        this);
}

void GtkWebView::ensureView()
{
    // A view its window took down is not made again: the container went with it.
    if (m_view || m_viewGone)
        return;
    if (m_creationSource) {
        g_source_remove(m_creationSource);
        m_creationSource = 0;
    }
    // The sandboxed web process reads the app's pages itself, and plays media of its file systems.
    if (m_client) {
        FileReach reach = m_client->fileReach();
        m_engine.addSandboxReadPath(reach.contentFolder);
        for (const auto& folder : reach.servedFolders)
            m_engine.addSandboxReadPath(folder);
    }
    WebKitWebContext* engineContext = m_engine.context(m_prefs.localStorageDatabasePath);
    m_view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(engineContext));
    // The window owns the view and may destroy it (closed, or destroyed from outside) while this
    // object lives on: from then on it has no page.
    m_destroyed = SignalConnection(m_view, g_signal_connect(m_view, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        self->m_view = nullptr;
        self->m_viewGone = true;
    }), this));

    m_loadChanged = SignalConnection(m_view,
        g_signal_connect(m_view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
            auto* self = static_cast<GtkWebView*>(data);
            if (event == WEBKIT_LOAD_FINISHED && self->m_client && !self->m_extensionSeen && !self->m_extensionMissingLogged) {
                self->m_extensionMissingLogged = true;
                log::warning(format("the page loaded without the host's web-process extension (looked in %@); "
                                    "it has no hostbridge",
                    self->m_engine.extensionDirectory()));
            }
            if ((event == WEBKIT_LOAD_STARTED || event == WEBKIT_LOAD_REDIRECTED) && self->m_client) {
                const char* uri = webkit_web_view_get_uri(self->m_view);
                self->m_client->didStartMainFrameNavigation(uri ? uri : "",
                    self->m_foreignFrameActivated ? NavigationChooser::MaybeForeignFrame : NavigationChooser::PageOrUser);
            }
            // The frames of the document that went are gone with it.
            if (event == WEBKIT_LOAD_COMMITTED)
                self->m_foreignFrameActivated = false;
            // Again for the committed document, in case its navigation moved to a new web process.
            if (event == WEBKIT_LOAD_COMMITTED)
                self->announceFileReach(webkit_web_view_get_uri(self->m_view));
            // The page standing in for a lost one is gone with the next load.
            if (event == WEBKIT_LOAD_STARTED && self->m_lostPageShown)
                self->m_lostPage.clear();
            if (event == WEBKIT_LOAD_COMMITTED)
                self->m_lostPageShown = !self->m_lostPage.empty();
            if (event == WEBKIT_LOAD_FINISHED && self->m_loadFinished)
                self->m_loadFinished(std::exchange(self->m_loadError, std::nullopt));
        }),
            this));
    m_loadFailed = SignalConnection(m_view,
        g_signal_connect(m_view, "load-failed",
            G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char* uri, GError* error, gpointer data) -> gboolean {
                log::message(std::string("page load failed: ") + log::withoutQueryValues(uri ? uri : "") + ": " + (error ? error->message : ""));
                // A load replaced by another, or turned into a download, is no failure of the page.
                if (!g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)
                    && !g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
                    static_cast<GtkWebView*>(data)->m_loadError = std::string(uri ? uri : "") + ": " + (error ? error->message : "");
                return FALSE;
            }),
            this));
    m_keyPress = SignalConnection(m_view,
        g_signal_connect(m_view, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            if (event->keyval != GDK_KEY_F5 || self->m_lostPage.empty())
                return self->appKey(*event);
            self->reload();
            return TRUE;
        }),
            this));
    m_pageClaim = SignalConnection(m_view,
        g_signal_connect(m_view, "user-message-received", G_CALLBACK(+[](WebKitWebView*, WebKitUserMessage* message, gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            const char* name = webkit_user_message_get_name(message);
            if (g_strcmp0(name, channel::kForeignActivationMessage) == 0) {
                self->m_foreignFrameActivated = true;
                return TRUE;
            }
            if (g_strcmp0(name, channel::kPageClaimMessage) != 0)
                return FALSE;
            GVariant* parameters = webkit_user_message_get_parameters(message);
            if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE(channel::kPageClaimType))) {
                const char* credential = nullptr;
                g_variant_get(parameters, "(&s)", &credential);
                self->claimedBy(credential);
            }
            return TRUE;
        }),
            this));
    m_processTerminated = SignalConnection(m_view,
        g_signal_connect(m_view, "web-process-terminated",
            G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
                static_cast<GtkWebView*>(data)->webProcessTerminated(reason);
            }),
            this));

    // The inspector in a window of its own: docked, it would take room from the page the app laid
    // out. The engine docks it when it opens (refusing that closes it); it is moved out on the next
    // turn of the main loop.
    WebKitWebInspector* inspector = webkit_web_view_get_inspector(m_view);
    m_inspectorAttach = SignalConnection(inspector,
        g_signal_connect(inspector, "attach", G_CALLBACK(+[](WebKitWebInspector* inspector, gpointer) -> gboolean {
            g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, +[](gpointer data) -> gboolean {
                webkit_web_inspector_detach(WEBKIT_WEB_INSPECTOR(data));
                return G_SOURCE_REMOVE;
            }, g_object_ref(inspector), g_object_unref);
            return FALSE;
        }), nullptr));

    connectClientSignals();
    m_permissions = std::make_unique<GtkPermissionRequests>(*this);
    connectAppKeys();

    gtk_container_add(GTK_CONTAINER(m_container), GTK_WIDGET(m_view));
    gtk_widget_show(GTK_WIDGET(m_view));
    applySettings();
    for (auto& hook : m_createdHooks)
        hook(m_view, engineContext);
    runPendingLoad();
    for (auto& script : m_pendingScripts)
        evaluateScript(script);
    m_pendingScripts.clear();
}

void GtkWebView::whenCreated(CreatedHook hook)
{
    if (m_view)
        hook(m_view, context());
    m_createdHooks.push_back(std::move(hook));
}

void GtkWebView::applySettings()
{
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    if (m_prefs.webGLEnabled)
        webkit_settings_set_enable_webgl(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, m_developerExtras);
    webkit_settings_set_enable_html5_local_storage(settings, m_prefs.localStorageEnabled);
    // A page kept for going back would come back with the bridge of a document the host has let
    // go, and its calls would go unanswered; going back loads the page anew instead.
    webkit_settings_set_enable_page_cache(settings, FALSE);
    // Every window.open reaches the host, which decides (and says) what comes of it; the engine
    // would otherwise drop one without a user gesture silently.
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    webkit_web_view_set_zoom_level(m_view, m_zoomLevel);
    if (!hasGpu())
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    if (!m_drawsBackground) {
        GdkRGBA transparent { 0, 0, 0, 0 };
        webkit_web_view_set_background_color(m_view, &transparent);
    }
    if (m_acceptAllCookies)
        m_engine.acceptAllCookies();
}

void GtkWebView::runPendingLoad()
{
    auto pending = std::exchange(m_pendingLoad, PendingLoad::None);
    // The host chose this navigation, whatever frames the page held.
    m_foreignFrameActivated = false;
    if (pending == PendingLoad::Url) {
        m_hostLoadURL = m_pendingContent.substr(0, m_pendingContent.find('#'));
        webkit_web_view_load_uri(m_view, m_pendingContent.c_str());
    }
    else if (pending == PendingLoad::Html)
        webkit_web_view_load_html(m_view, m_pendingContent.c_str(), nullptr);
    m_pendingContent.clear();
}

void GtkWebView::loadRequest(const std::string& url)
{
    m_pendingLoad = PendingLoad::Url;
    m_pendingContent = url;
    if (m_view)
        runPendingLoad();
    else
        scheduleCreation();
}

void GtkWebView::loadHTMLString(const std::string& html)
{
    m_pendingLoad = PendingLoad::Html;
    m_pendingContent = html;
    if (m_view)
        runPendingLoad();
    else
        scheduleCreation();
}

void GtkWebView::evaluateScript(const std::string& script)
{
    if (!m_view) {
        m_pendingScripts.push_back(script);
        scheduleCreation();
        return;
    }
    // Through the extension of the process that shows the main frame when there is one: one hop,
    // and in order with the answers to the page's calls. The engine's own path otherwise.
    if (auto connection = m_mainConnection.lock(); connection && connection->isOpen()) {
        connection->sendScript(pageId(), script);
        return;
    }
    webkit_web_view_evaluate_javascript(m_view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr,
        nullptr, nullptr, nullptr);
}

void GtkWebView::evaluateAnswer(const std::string& script, std::uint64_t contextId)
{
    if (contextId == 0) {
        evaluateScript(script);
        return;
    }
    // Only to the web process of the document that asked, and only while the host knows it: never
    // through the engine's own path, which would run it in whatever document the page shows now.
    auto it = m_scriptContexts.find(contextId);
    auto connection = it == m_scriptContexts.end() ? nullptr : it->second.channel.lock();
    if (!m_view || !connection || !connection->isOpen()) {
        answerDropped(contextId);
        return;
    }
    connection->sendScript(pageId(), script, contextId);
}

void GtkWebView::answerDropped(std::uint64_t contextId)
{
    if (contextId == m_lastDroppedContext)
        return;
    m_lastDroppedContext = contextId;
    log::message(format("dropped the answers for a document that is gone (script context %@)", contextId));
}

std::shared_ptr<channel::ChannelConnection> GtkWebView::answerChannel(std::uint64_t contextId, NativeCallbackDelivery& otherwise)
{
    // Only through the extension; on any other path the caller evaluates the script form, in the
    // same place of the order.
    otherwise = NativeCallbackDelivery::NotHere;
    std::shared_ptr<channel::ChannelConnection> connection;
    if (contextId) {
        auto it = m_scriptContexts.find(contextId);
        connection = it == m_scriptContexts.end() ? nullptr : it->second.channel.lock();
        if (!m_view || !connection || !connection->isOpen()) {
            // Its document is gone: the script form would be dropped too.
            answerDropped(contextId);
            otherwise = NativeCallbackDelivery::Sent;
            return nullptr;
        }
    } else {
        connection = m_view ? m_mainConnection.lock() : nullptr;
    }
    return connection && connection->isOpen() ? connection : nullptr;
}

Result<NativeCallbackDelivery> GtkWebView::deliverNativeCallback(const NativeCallbackAnswer& answer)
{
    // The extension makes the page's ArrayBuffers from the frame's raw bytes. The answer travels in
    // one frame: the bytes are never held twice on either side.
    NativeCallbackDelivery otherwise;
    auto connection = answerChannel(answer.contextId, otherwise);
    if (!connection)
        return otherwise;
    std::string payload = channel::encodeNativeCallback(answer.callbackId, answer.status, answer.keepCallback, answer.message);
    if (auto sent = connection->send(channel::FrameKind::NativeCallback, pageId(), answer.contextId, payload); !sent)
        return sent.error();
    return NativeCallbackDelivery::Sent;
}

Result<NativeCallbackDelivery> GtkWebView::deliverAnswer(const CallbackAnswerText& answer)
{
    NativeCallbackDelivery otherwise;
    auto connection = answerChannel(answer.contextId, otherwise);
    if (!connection)
        return otherwise;
    std::string payload = channel::encode(channel::CallbackAnswer { answer.callbackId, answer.status, answer.keepCallback, answer.messageJson });
    if (auto sent = connection->send(channel::FrameKind::CallbackAnswer, pageId(), answer.contextId, payload); !sent)
        return sent.error();
    return NativeCallbackDelivery::Sent;
}

Result<NativeCallbackDelivery> GtkWebView::deliverEncodedAnswer(const EncodedAnswer& answer)
{
    NativeCallbackDelivery otherwise;
    auto connection = answerChannel(answer.contextId, otherwise);
    if (!connection)
        return otherwise;
    auto kind = answer.form == EncodedAnswer::Form::Bytes ? channel::FrameKind::NativeCallback : channel::FrameKind::CallbackAnswer;
    if (auto sent = connection->sendShared(kind, pageId(), answer.contextId, answer.payload, answer.hold); !sent)
        return sent.error();
    return NativeCallbackDelivery::Sent;
}

void GtkWebView::setPreferences(const WebPreferences& prefs)
{
    m_prefs = prefs;
    if (m_view)
        applySettings();
    else
        ensureView();
}

void GtkWebView::setDrawsBackground(DrawsBackground draws)
{
    m_drawsBackground = draws == DrawsBackground::Yes;
    if (m_view && !m_drawsBackground)
        applySettings();
}

void GtkWebView::setDeveloperExtras(DeveloperExtras extras)
{
    m_developerExtras = extras == DeveloperExtras::On;
    if (m_view)
        applySettings();
}

void GtkWebView::reload()
{
    if (!m_view)
        return;
    // The page standing in for a lost one reloads the page that was lost, not itself.
    if (!m_lostPage.empty()) {
        log::message("reloading " + m_lostPage);
        webkit_web_view_load_uri(m_view, m_lostPage.c_str());
        return;
    }
    // No load of the host's: the document that comes counts as the app's only when the one shown did.
    webkit_web_view_reload(m_view);
}

void GtkWebView::showInspector()
{
    if (!m_view || !m_developerExtras)
        return;
    webkit_web_inspector_show(webkit_web_view_get_inspector(m_view));
}

void GtkWebView::acceptAllCookies()
{
    m_acceptAllCookies = true;
    if (m_view)
        applySettings();
}

void GtkWebView::connectClientSignals()
{
    m_decidePolicy = SignalConnection(m_view,
        g_signal_connect(m_view, "decide-policy",
            G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer data) -> gboolean {
                auto* self = static_cast<GtkWebView*>(data);
                if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
                    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
                    const char* uri = webkit_uri_response_get_uri(webkit_response_policy_decision_get_response(response));
                    if (webkit_response_policy_decision_is_main_frame_main_resource(response)) {
                        // The host's own load is the app's choice.
                        std::string_view shown = uri ? uri : "";
                        if (self->m_client && shown.substr(0, shown.find('#')) != self->m_hostLoadURL
                            && self->m_client->decideMainFrameDocument(std::string(shown)) == PolicyDecision::Ignore) {
                            webkit_policy_decision_ignore(decision);
                            return TRUE;
                        }
                        self->setFileAccess(self->m_client && self->m_client->allowsFileAccess(uri ? uri : ""));
                        self->m_documentReach = self->fileReachOf(uri ? uri : "");
                        // The document the main frame makes next; its process may announce it
                        // before the view's address moves (a navigation into another process).
                        self->m_acceptedMainDocumentURL = std::string(shown.substr(0, shown.find('#')));
                    } else if (auto path = FileURLPath::localPath(uri ? uri : "");
                               path && !self->m_documentReach.empty() && !FileURLPath::isInsideAny(*path, self->m_documentReach)) {
                        // The web process let the frame's request pass (it cannot tell frames from
                        // the main frame's navigations); its document would share the page's reach.
                        log::message(format("refused a frame of %@: outside the app's web content folder", std::string(uri)));
                        webkit_policy_decision_ignore(decision);
                        return TRUE;
                    }
                    return FALSE;
                }
                if (!self->m_client || type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION)
                    return FALSE;
                WebKitNavigationAction* action
                    = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
                NavigationRequest request = self->navigationRequest(action);
                if (self->m_client->decideNavigation(request) == PolicyDecision::Use) {
                    self->announceFileReach(request.url.c_str());
                    webkit_policy_decision_use(decision);
                }
                else
                    webkit_policy_decision_ignore(decision);
                return TRUE;
            }),
            this));
    m_scriptDialog = SignalConnection(m_view,
        g_signal_connect(m_view, "script-dialog", G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            if (!self->m_client)
                return FALSE;
            const char* text = webkit_script_dialog_get_message(dialog);
            std::string message = text ? text : "";
            switch (webkit_script_dialog_get_dialog_type(dialog)) {
            case WEBKIT_SCRIPT_DIALOG_ALERT:
                self->m_client->runJavaScriptAlertPanel(message);
                break;
            case WEBKIT_SCRIPT_DIALOG_CONFIRM:
                webkit_script_dialog_confirm_set_confirmed(dialog, self->m_client->runJavaScriptConfirmPanel(message));
                break;
            case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
                self->m_close = CloseState::Question;
                webkit_script_dialog_confirm_set_confirmed(dialog, self->m_client->runBeforeUnloadConfirmPanel(message));
                // The user answered: staying keeps the app, and the next close asks again.
                self->m_close = CloseState::None;
                break;
            case WEBKIT_SCRIPT_DIALOG_PROMPT: {
                const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
                // Left unset, the page's prompt() answers null.
                if (auto answer = self->m_client->runJavaScriptTextInputPanel(message, defaultText ? defaultText : ""))
                    webkit_script_dialog_prompt_set_text(dialog, answer->c_str());
                break;
            }
            }
            return TRUE;
        }),
            this));
    // window.open and target="_blank": the host decides where the URL goes; no new view is made.
    m_createWindow = SignalConnection(m_view,
        g_signal_connect(m_view, "create", G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction* action, gpointer data) -> GtkWidget* {
            auto* self = static_cast<GtkWebView*>(data);
            const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
            if (self->m_client)
                self->m_client->openNewWindow(NewWindowRequest { uri ? uri : "",
                    webkit_navigation_action_is_user_gesture(action) ? UserGesture::Yes : UserGesture::No,
                    self->onlyAppContent() ? DocumentOpener::App : DocumentOpener::Other });
            return nullptr;
        }),
            this));
    m_fileChooser = SignalConnection(m_view,
        g_signal_connect(m_view, "run-file-chooser",
            G_CALLBACK(+[](WebKitWebView*, WebKitFileChooserRequest* request, gpointer data) -> gboolean {
                auto* self = static_cast<GtkWebView*>(data);
                if (!self->m_client)
                    return FALSE;
                auto multiple = webkit_file_chooser_request_get_select_multiple(request) ? AllowMultipleFiles::Yes : AllowMultipleFiles::No;
                std::vector<std::string> accept;
                if (const char* const* types = webkit_file_chooser_request_get_mime_types(request)) {
                    for (; *types; ++types)
                        accept.emplace_back(*types);
                }
                auto chosen = self->m_client->runOpenPanel(multiple, accept);
                if (!chosen || chosen->empty()) {
                    webkit_file_chooser_request_cancel(request);
                    return TRUE;
                }
                std::vector<const char*> paths;
                for (const auto& path : *chosen)
                    paths.push_back(path.c_str());
                paths.push_back(nullptr);
                webkit_file_chooser_request_select_files(request, paths.data());
                return TRUE;
            }),
            this));
}

void GtkWebView::connectAppKeys()
{
    m_scroll = SignalConnection(m_view,
        g_signal_connect(m_view, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* event, gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            if (self->m_zoomKeys == ZoomKeys::Off || (event->state & gtk_accelerator_get_default_mod_mask()) != GDK_CONTROL_MASK)
                return FALSE;
            double dx = 0;
            double dy = 0;
            if (event->direction == GDK_SCROLL_UP)
                dy = -1;
            else if (event->direction == GDK_SCROLL_DOWN)
                dy = 1;
            else if (event->direction == GDK_SCROLL_SMOOTH)
                gdk_event_get_scroll_deltas(reinterpret_cast<GdkEvent*>(event), &dx, &dy);
            if (dy != 0)
                self->zoomBy(dy < 0 ? 1 : -1);
            return TRUE;
        }),
            this));
    m_contextMenu = SignalConnection(m_view,
        g_signal_connect(m_view, "context-menu",
            G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*, gpointer data) -> gboolean {
                if (static_cast<GtkWebView*>(data)->m_developerExtras)
                    return FALSE;
                trimContextMenu(menu);
                // Nothing left to offer: no menu at all.
                return webkit_context_menu_get_n_items(menu) == 0;
            }),
            this));
    // The drop's URLs arrive while the pointer moves over the view, before the drop itself.
    m_dragData = SignalConnection(m_view,
        g_signal_connect(m_view, "drag-data-received",
            G_CALLBACK(+[](GtkWidget*, GdkDragContext*, int, int, GtkSelectionData* data, unsigned, unsigned, gpointer self) {
                auto& urls = static_cast<GtkWebView*>(self)->m_draggedURLs;
                urls.clear();
                GUnique<char*> uris(gtk_selection_data_get_uris(data));
                for (char** uri = uris.get(); uri && *uri; ++uri)
                    urls.emplace_back(*uri);
                GUnique<char> text(reinterpret_cast<char*>(gtk_selection_data_get_text(data)));
                if (text)
                    urls.emplace_back(g_strstrip(text.get()));
            }),
            this));
    m_drop = SignalConnection(m_view,
        g_signal_connect(m_view, "drag-drop", G_CALLBACK(+[](GtkWidget*, GdkDragContext*, int, int, unsigned, gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            self->m_droppedURLs = self->m_draggedURLs;
            return FALSE;
        }),
            this));
    m_buttonPress = SignalConnection(m_view,
        g_signal_connect(m_view, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* event, gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            self->m_droppedURLs.clear();
            // The mouse's back and forward buttons.
            if (event->type == GDK_BUTTON_PRESS && (event->button == 8 || event->button == 9)) {
                if (event->button == 8 && webkit_web_view_can_go_back(self->m_view))
                    webkit_web_view_go_back(self->m_view);
                if (event->button == 9 && webkit_web_view_can_go_forward(self->m_view))
                    webkit_web_view_go_forward(self->m_view);
                return TRUE;
            }
            return FALSE;
        }),
            this));
    m_closeSignal = SignalConnection(m_view, g_signal_connect(m_view, "close", G_CALLBACK(+[](WebKitWebView*, gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        self->m_close = CloseState::None;
        if (self->m_closed)
            self->m_closed();
    }),
        this));
}

bool GtkWebView::appKey(const GdkEventKey& event)
{
    m_droppedURLs.clear();
    auto modifiers = event.state & gtk_accelerator_get_default_mod_mask();
    bool back = event.keyval == GDK_KEY_Back || (modifiers == GDK_MOD1_MASK && (event.keyval == GDK_KEY_Left || event.keyval == GDK_KEY_KP_Left));
    bool forward = event.keyval == GDK_KEY_Forward
        || (modifiers == GDK_MOD1_MASK && (event.keyval == GDK_KEY_Right || event.keyval == GDK_KEY_KP_Right));
    if (back || forward) {
        if (back && webkit_web_view_can_go_back(m_view))
            webkit_web_view_go_back(m_view);
        if (forward && webkit_web_view_can_go_forward(m_view))
            webkit_web_view_go_forward(m_view);
        return true;
    }
    // Ctrl+plus comes as Ctrl+equal or Ctrl+Shift+plus on most layouts.
    if (m_zoomKeys == ZoomKeys::Off || (modifiers & ~GDK_SHIFT_MASK) != GDK_CONTROL_MASK)
        return false;
    switch (event.keyval) {
    case GDK_KEY_plus:
    case GDK_KEY_equal:
    case GDK_KEY_KP_Add:
        zoomBy(1);
        return true;
    case GDK_KEY_minus:
    case GDK_KEY_underscore:
    case GDK_KEY_KP_Subtract:
        zoomBy(-1);
        return true;
    case GDK_KEY_0:
    case GDK_KEY_KP_0:
        zoomBy(0);
        return true;
    default:
        return false;
    }
}

void GtkWebView::zoomBy(int steps)
{
    static constexpr double kLevels[] = { 0.3, 0.5, 0.67, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0 };
    double level = 1.0;
    if (steps > 0) {
        auto next = std::find_if(std::begin(kLevels), std::end(kLevels), [&](double l) { return l > m_zoomLevel + 0.001; });
        level = next == std::end(kLevels) ? kLevels[std::size(kLevels) - 1] : *next;
    } else if (steps < 0) {
        auto below = std::find_if(std::rbegin(kLevels), std::rend(kLevels), [&](double l) { return l < m_zoomLevel - 0.001; });
        level = below == std::rend(kLevels) ? kLevels[0] : *below;
    }
    if (level == m_zoomLevel)
        return;
    m_zoomLevel = level;
    webkit_web_view_set_zoom_level(m_view, level);
    if (m_client)
        m_client->zoomLevelChanged(level);
}

void GtkWebView::setZoom(ZoomKeys keys, double level)
{
    m_zoomKeys = keys;
    m_zoomLevel = level > 0 ? level : 1.0;
    if (m_view)
        webkit_web_view_set_zoom_level(m_view, m_zoomLevel);
}

void GtkWebView::trimContextMenu(WebKitContextMenu* menu)
{
    // A browser's items: history, loading, other windows, downloads. They would take the app away,
    // lose what the user typed, or save what the app did not offer.
    auto browserItem = [](WebKitContextMenuAction action) {
        switch (action) {
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_GO_BACK:
        case WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD:
        case WEBKIT_CONTEXT_MENU_ACTION_STOP:
        case WEBKIT_CONTEXT_MENU_ACTION_RELOAD:
        case WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK:
        case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK:
            return true;
        default:
            return false;
        }
    };
    std::vector<WebKitContextMenuItem*> items;
    for (GList* item = webkit_context_menu_get_items(menu); item; item = item->next)
        items.push_back(WEBKIT_CONTEXT_MENU_ITEM(item->data));
    bool lastWasSeparator = true;
    for (auto* item : items) {
        bool separator = webkit_context_menu_item_is_separator(item);
        if (browserItem(webkit_context_menu_item_get_stock_action(item)) || (separator && lastWasSeparator)) {
            webkit_context_menu_remove(menu, item);
            continue;
        }
        lastWasSeparator = separator;
    }
    if (GList* last = g_list_last(webkit_context_menu_get_items(menu)); last && webkit_context_menu_item_is_separator(WEBKIT_CONTEXT_MENU_ITEM(last->data)))
        webkit_context_menu_remove(menu, WEBKIT_CONTEXT_MENU_ITEM(last->data));
}

NavigationRequest GtkWebView::navigationRequest(WebKitNavigationAction* action)
{
    NavigationRequest request;
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    request.url = uri ? uri : "";
    switch (webkit_navigation_action_get_navigation_type(action)) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
        request.kind = NavigationKind::Link;
        break;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
        request.kind = NavigationKind::Form;
        break;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
        request.kind = NavigationKind::BackForward;
        break;
    case WEBKIT_NAVIGATION_TYPE_RELOAD:
        request.kind = NavigationKind::Reload;
        break;
    default:
        break;
    }
    request.gesture = webkit_navigation_action_is_user_gesture(action) ? UserGesture::Yes : UserGesture::No;
    const char* current = webkit_web_view_get_uri(m_view);
    request.currentURL = current ? current : "";
    auto dropped = std::find(m_droppedURLs.begin(), m_droppedURLs.end(), request.url);
    request.dropped = dropped != m_droppedURLs.end();
    // Only the drop's own navigation.
    if (request.dropped)
        m_droppedURLs.clear();
    for (const auto& [contextId, context] : m_scriptContexts)
        if (context.frame != m_mainFrame)
            request.frameURLs.push_back(context.url);
    return request;
}

bool GtkWebView::onlyAppContent() const
{
    return m_mainDocumentAppContent
        && std::all_of(m_scriptContexts.begin(), m_scriptContexts.end(), [](const auto& entry) { return entry.second.appContent; });
}

void GtkWebView::tryClose()
{
    if (!m_view) {
        if (m_closed)
            m_closed();
        return;
    }
    // The question is up: the user answers it. A page that neither answered the last request nor
    // asked the user (its web process hangs) does not keep the app open against a second one.
    if (m_close == CloseState::Question)
        return;
    if (m_close == CloseState::Asked) {
        log::message("the page did not answer the request to close; closing");
        if (m_closed)
            m_closed();
        return;
    }
    m_close = CloseState::Asked;
    webkit_web_view_try_close(m_view);
}

void GtkWebView::closeThroughPage(GtkWindow* window, std::function<void()> closed)
{
    m_closed = std::move(closed);
    m_windowDelete = SignalConnection(window, g_signal_connect(window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
        static_cast<GtkWebView*>(data)->tryClose();
        return TRUE;
    }),
        this));
}

void GtkWebView::setFileAccess(bool allowed)
{
    // The engine fixes a document's rights when it makes the document, which follows this answer;
    // the settings reach the web process before the load goes on. Universal access stays off: the
    // app's pages need their files, not web origins without their consent.
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    if (static_cast<bool>(webkit_settings_get_allow_file_access_from_file_urls(settings)) == allowed)
        return;
    webkit_settings_set_allow_file_access_from_file_urls(settings, allowed);
}

std::vector<std::string> GtkWebView::fileReachOf(const std::string& url)
{
    if (!m_client || !m_client->allowsFileAccess(url))
        return {};
    FileReach reach = m_client->fileReach();
    if (reach.wholeDisk)
        return { "/" };
    std::vector<std::string> folders { FileURLPath::normalized(reach.contentFolder) };
    for (const auto& folder : reach.servedFolders)
        folders.push_back(FileURLPath::normalized(folder));
    return folders;
}

void GtkWebView::announceFileReach(const char* url)
{
    if (!url || !m_client)
        return;
    GVariantBuilder folders;
    g_variant_builder_init(&folders, G_VARIANT_TYPE_STRING_ARRAY);
    for (const auto& folder : fileReachOf(url))
        g_variant_builder_add(&folders, "s", folder.c_str());
    // Sent before the answer to the navigation, so it reaches the web process ahead of the request.
    webkit_web_view_send_message_to_page(m_view,
        webkit_user_message_new(channel::kFileReachMessage, g_variant_new(channel::kFileReachType, url, &folders)), nullptr,
        nullptr, nullptr);
}

void GtkWebView::claimedBy(const std::string& credential)
{
    if (credential.empty() || credential == m_hostCredential)
        return;
    m_hostCredential = credential;
    // What the process that hosted the page before announced speaks for it no more.
    for (auto it = m_scriptContexts.begin(); it != m_scriptContexts.end();) {
        auto connection = it->second.channel.lock();
        if (connection && connection->credential() == credential) {
            ++it;
            continue;
        }
        if (auto frame = m_frameContexts.find(it->second.frame); frame != m_frameContexts.end() && frame->second == it->first)
            m_frameContexts.erase(frame);
        it = m_scriptContexts.erase(it);
    }
    m_engine.channelServer().pageClaimed();
}

void GtkWebView::webProcessTerminated(WebKitWebProcessTerminationReason reason)
{
    m_hostCredential.clear();
    const char* why = reason == WEBKIT_WEB_PROCESS_CRASHED ? "crashed"
        : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "exceeded its memory limit"
                                                               : "was terminated";
    m_mainConnection.reset();
    m_scriptContexts.clear();
    m_frameContexts.clear();
    if (!m_extensionSeen && context() && webkit_web_context_get_sandbox_enabled(context())) {
        log::warning(std::string("web process ") + why
            + " before showing any page: its sandbox needs unprivileged user namespaces, which this system may not allow");
        return;
    }
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) {
        log::warning(std::string("web process ") + why + "; reload the page to continue");
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (m_lastAutomaticReload != std::chrono::steady_clock::time_point {} && now - m_lastAutomaticReload < kAutomaticReloadInterval) {
        const char* current = webkit_web_view_get_uri(m_view);
        std::string uri = current ? current : "";
        if (uri.empty()) {
            log::warning(std::string("web process ") + why + " again right after a reload; no page to reload");
            return;
        }
        log::warning(std::string("web process ") + why + " again right after a reload; showing a page that offers to reload " + uri);
        m_lostPage = uri;
        m_lostPageShown = false;
        webkit_web_view_load_alternate_html(m_view, processLostPage().c_str(), uri.c_str(), uri.c_str());
        gtk_widget_grab_focus(GTK_WIDGET(m_view));
        return;
    }
    m_lastAutomaticReload = now;
    log::warning(std::string("web process ") + why + "; reloading the page");
    // The reloaded document keeps the standing of the one lost: the host's load only when that was
    // the app's.
    const char* uri = webkit_web_view_get_uri(m_view);
    if (uri && m_mainDocumentAppContent)
        m_hostLoadURL = std::string(uri).substr(0, std::string_view(uri).find('#'));
    webkit_web_view_reload(m_view);
}

channel::ContextSetup GtkWebView::didCreateScriptContext(std::shared_ptr<channel::ChannelConnection> connection,
    std::uint64_t contextId, const channel::NewContext& notice)
{
    m_extensionSeen = true;
    if (auto why = contextRefusal(*connection, notice)) {
        forgetFrame(notice.frame);
        log::message(format("refused a script context of page %@ from web process %@: %@; it gets nothing", pageId(),
            connection->pid(), *why));
        // A main-frame document the host cannot place opens nothing of the app's.
        if (notice.main)
            m_mainDocumentAppContent = false;
        return {};
    }
    WindowObject window;
    window.contextId = contextId;
    window.mainFrame = notice.main;
    window.url = notice.url;
    window.owner = notice.owner;
    window.opaqueOrigin = notice.opaque;
    window.opener = openerOf(*connection, notice);
    forgetFrame(notice.frame);
    if (window.mainFrame) {
        m_mainConnection = connection;
        m_mainFrame = notice.frame;
    }
    if (!m_client)
        return {};
    m_client->didClearWindowObject(window);
    bool bridged = window.hostbridge && window.bridgeExposure == BridgeExposure::Installed;
    if (window.mainFrame) {
        // A fresh blank document (the frame's first) opens nothing.
        if (!notice.url.starts_with("about:"))
            m_mainDocumentAppContent = window.appContent;
        if (notice.url.substr(0, notice.url.find('#')) == m_hostLoadURL || !notice.url.starts_with("about:"))
            m_hostLoadURL.clear();
    }
    // Every context is kept, bridged or not: a sub-frame's parent must be one of them.
    m_scriptContexts[contextId]
        = ScriptContext { notice.frame, window.hostbridge, window.console, connection.get(), connection, window.appContent, notice.url };
    m_frameContexts[notice.frame] = contextId;
    if (m_scriptContexts.size() >= std::max(kManyScriptContexts, 2 * m_contextsReported)) {
        m_contextsReported = m_scriptContexts.size();
        log::message(format("page %@ holds %@ live script contexts", pageId(), m_contextsReported));
    }
    return channel::ContextSetup { bridged, static_cast<bool>(window.console),
        std::move(window.scripts), std::move(window.loadScript) };
}

std::optional<std::string> GtkWebView::contextRefusal(const channel::ChannelConnection& from, const channel::NewContext& notice) const
{
    auto withoutFragment = [](std::string_view url) { return url.substr(0, url.find('#')); };
    if (notice.main) {
        // The engine moves the view's address to a document before that document is made.
        const char* address = m_view ? webkit_web_view_get_uri(m_view) : nullptr;
        if (notice.url.starts_with("about:") || (address && withoutFragment(notice.url) == withoutFragment(address))
            || (!m_acceptedMainDocumentURL.empty() && withoutFragment(notice.url) == m_acceptedMainDocumentURL))
            return std::nullopt;
        return format("its main-frame document %@ is not at the page's address %@", log::withoutQueryValues(notice.url),
            log::withoutQueryValues(address ? address : ""));
    }
    auto parent = m_scriptContexts.find(notice.parent);
    if (notice.parent && parent != m_scriptContexts.end() && parent->second.connection == &from)
        return std::nullopt;
    return std::string("its parent is no document that process announced");
}

DocumentOpener GtkWebView::openerOf(const channel::ChannelConnection& from, const channel::NewContext& notice) const
{
    if (notice.main) {
        // The host's own load, or a navigation while the main frame showed the app's own content.
        // (Which frame started a navigation the engine does not say; a frame inside a bridged page
        // may navigate the top only with the user's gesture.)
        bool hostLoad = !m_hostLoadURL.empty() && notice.url.substr(0, notice.url.find('#')) == m_hostLoadURL;
        return hostLoad || m_mainDocumentAppContent ? DocumentOpener::App : DocumentOpener::Other;
    }
    // The parent the extension found in the engine's frame tree must be the app's own content, as
    // announced by the same web process.
    auto it = m_scriptContexts.find(notice.parent);
    bool appParent = notice.parent && it != m_scriptContexts.end() && it->second.connection == &from && it->second.appContent;
    return appParent ? DocumentOpener::App : DocumentOpener::Other;
}

GtkWebView::ScriptContext* GtkWebView::contextFrom(const channel::ChannelConnection& from, std::uint64_t contextId)
{
    auto it = m_scriptContexts.find(contextId);
    if (it == m_scriptContexts.end() || it->second.connection != &from)
        return nullptr;
    return &it->second;
}

void GtkWebView::forgetFrame(std::uint64_t frame)
{
    auto it = m_frameContexts.find(frame);
    if (it == m_frameContexts.end())
        return;
    m_scriptContexts.erase(it->second);
    m_frameContexts.erase(it);
}

void GtkWebView::frameGone(std::uint64_t frame) { forgetFrame(frame); }

void GtkWebView::execInContext(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ExecCall&& call)
{
    ScriptContext* context = contextFrom(from, contextId);
    if (!context || !context->hostbridge) {
        log::message("ERROR: hostbridge.exec was called from a window the host no longer serves; the call was dropped.");
        return;
    }
    // The action may set up other windows meanwhile; this bridge stays alive for the call.
    std::shared_ptr<ScriptBridgeObject> bridge = context->hostbridge;
    try {
        bridge->exec(std::move(call.callbackId), std::move(call.service), std::move(call.action), std::move(call.arguments));
    } catch (const std::exception& e) {
        // A failing action must not take the host down with it; the page goes on.
        log::message(format("ERROR: the action of a page call failed: %@", e.what()));
    }
}

void GtkWebView::execTooLarge(const channel::ChannelConnection& from, std::uint64_t contextId, const channel::ExecTooLarge& call,
    std::size_t limit)
{
    auto name = [](const Value& v) { return v.is_string() ? v.get<std::string>() : std::string("(null)"); };
    log::message(format("ERROR: a call to %@.%@ carried %@ bytes, more than the page channel's limit of %@ bytes; it was refused.",
        name(call.service), name(call.action), call.size, limit));
    ScriptContext* context = contextFrom(from, contextId);
    if (!context || !context->hostbridge)
        return;
    std::shared_ptr<ScriptBridgeObject> bridge = context->hostbridge;
    bridge->execRefused(call.callbackId,
        format("the call's arguments (%@ bytes) exceed the limit of %@ bytes of the host's page channel", call.size, limit));
}

void GtkWebView::consoleInContext(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ConsoleCall&& call)
{
    static constexpr ConsoleLevel kLevels[] = { ConsoleLevel::Log, ConsoleLevel::Trace, ConsoleLevel::Debug,
        ConsoleLevel::Info, ConsoleLevel::Warn, ConsoleLevel::Error };
    static_assert(std::size(kLevels) == std::size(channel::kConsoleLevels));
    ScriptContext* context = contextFrom(from, contextId);
    if (!context || !context->console || call.level >= std::size(kLevels))
        return;
    std::shared_ptr<ScriptConsoleObject> console = context->console;
    console->call(kLevels[call.level], call.value);
}

void GtkWebView::engineConsoleMessage(const channel::EngineConsole& message)
{
    if (!m_client)
        return;
    ConsoleMessage m;
    m.sourceURL = message.source;
    m.lineNumber = static_cast<long>(message.line);
    m.message = message.message;
    m.level = static_cast<ConsoleLevel>(std::min(message.level, std::size(channel::kConsoleLevels) - 1));
    m_client->addMessageToConsole(m);
}

bool GtkWebView::connectionClosed(const channel::ChannelConnection& connection)
{
    // Its contexts go with it: nothing may speak for them, and their answers have nowhere to go.
    for (auto it = m_scriptContexts.begin(); it != m_scriptContexts.end();) {
        if (it->second.connection != &connection) {
            ++it;
            continue;
        }
        if (auto frame = m_frameContexts.find(it->second.frame); frame != m_frameContexts.end() && frame->second == it->first)
            m_frameContexts.erase(frame);
        it = m_scriptContexts.erase(it);
    }
    auto main = m_mainConnection.lock();
    if (main.get() != &connection)
        return false;
    m_mainConnection.reset();
    return true;
}

} // namespace penwick::platform
