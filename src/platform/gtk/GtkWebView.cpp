#include "platform/glib/GpuProbe.h"
#include "platform/gtk/GtkWebView.h"

#include <algorithm>

#include "base/Format.h"
#include "base/Log.h"
#include "channel/ChannelConnection.h"
#include "platform/gtk/GtkApplicationHost.h"
#include "platform/gtk/GtkContextMenu.h"
#include "platform/gtk/GtkDisplayScale.h"
#include "platform/gtk/GtkEngineContext.h"
#include "platform/gtk/GtkHistoryKeys.h"
#include "platform/gtk/GtkInspectorWindow.h"
#include "platform/gtk/GtkNavigationAction.h"
#include "platform/gtk/GtkPageDialogs.h"
#include "platform/gtk/GtkPermissionRequests.h"

namespace penwick::platform {
namespace {
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
    , m_pageChannel(*this)
{
}

GtkWebView::~GtkWebView()
{
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
            if (event == WEBKIT_LOAD_FINISHED && self->m_client && !self->m_pageChannel.extensionSeen() && !self->m_extensionMissingLogged
                && self->m_engine.channelOpen()) {
                self->m_extensionMissingLogged = true;
                log::warning(format("the page loaded without the host's web-process extension (looked in %@); it has no hostbridge",
                    self->m_engine.extensionDirectory()));
            }
            const char* uri = webkit_web_view_get_uri(self->m_view);
            if ((event == WEBKIT_LOAD_STARTED || event == WEBKIT_LOAD_REDIRECTED) && self->m_client)
                self->m_client->didStartMainFrameNavigation(uri ? uri : "", self->chooser());
            // The frames of the document that went are gone with it. The file reach goes again for
            // the committed document, in case its navigation moved to a new web process.
            if (event == WEBKIT_LOAD_COMMITTED) {
                self->m_inputOrigin.documentChanged();
                self->m_committedURL = uri ? uri : "";
                GtkFileReach::announce(self->m_view, self->m_client, uri);
            }
            self->m_crashRecovery.loadChanged(event);
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
            if (event->keyval != GDK_KEY_F5 || self->m_crashRecovery.lostPage().empty())
                return self->appKey(*event);
            self->reload();
            return TRUE;
        }),
            this));
    m_pageClaim = SignalConnection(m_view,
        g_signal_connect(m_view, "user-message-received", G_CALLBACK(+[](WebKitWebView*, WebKitUserMessage* message, gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            return self->m_inputOrigin.heard(message) || self->m_pageChannel.pageMessage(message);
        }),
            this));
    m_processTerminated = SignalConnection(m_view,
        g_signal_connect(m_view, "web-process-terminated",
            G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
                static_cast<GtkWebView*>(data)->webProcessTerminated(reason);
            }),
            this));

    m_inspectorAttach = GtkInspectorWindow::keepDetached(m_view);

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
    GtkDisplayScale::setZoom(m_view, m_zoomLevel);
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
    m_inputOrigin.documentChanged();
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
    if (auto connection = m_pageChannel.mainChannel()) {
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
    auto connection = m_pageChannel.contexts().channelOf(contextId);
    if (!m_view || !connection) {
        m_pageChannel.answerDropped(contextId);
        return;
    }
    connection->sendScript(pageId(), script, contextId);
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
    if (const std::string& lost = m_crashRecovery.lostPage(); !lost.empty()) {
        log::message("reloading " + lost);
        webkit_web_view_load_uri(m_view, lost.c_str());
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
                            && self->m_client->decideMainFrameDocument(std::string(shown), self->m_committedURL, self->chooser())
                                == PolicyDecision::Ignore) {
                            webkit_policy_decision_ignore(decision);
                            return TRUE;
                        }
                        self->m_fileReach.mainDocument(self->m_view, self->m_client, uri ? uri : "");
                        // The document the main frame makes next; its process may announce it
                        // before the view's address moves (a navigation into another process).
                        self->m_acceptedMainDocumentURL = std::string(shown.substr(0, shown.find('#')));
                    } else if (self->m_fileReach.outsideDocumentReach(uri ? uri : "")) {
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
                    GtkFileReach::announce(self->m_view, self->m_client, request.url.c_str());
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
            // Without the page's word on who opens this one (the leave-page question, which no
            // script opens), a page holding another site's document cannot pass it off as the app's.
            auto asker = self->m_pageChannel.takeDialogOpener().value_or(
                self->onlyAppContent() ? DialogAsker {} : DialogAsker { DialogAsker::Kind::OtherSite });
            GtkPageDialogs::runScriptDialog(*self->m_client, dialog, asker,
                [self](GtkPageDialogs::LeavePage state) { self->m_pageClose.leavePage(state); });
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
                GtkPageDialogs::runFileChooser(*self->m_client, request, self->m_inputOrigin.latestAsker());
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
                GtkContextMenu::trim(menu);
                // Nothing left to offer: no menu at all.
                return webkit_context_menu_get_n_items(menu) == 0;
            }),
            this));
    m_drops.connect(m_view);
    m_inputOrigin.connect(m_view);
    m_buttonPress = SignalConnection(m_view,
        g_signal_connect(m_view, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* event, gpointer data) -> gboolean {
            auto* self = static_cast<GtkWebView*>(data);
            self->m_drops.userActed();
            return GtkHistoryKeys::button(self->m_view, *event);
        }),
            this));
    m_pageClose.connect(m_view);
}

bool GtkWebView::appKey(const GdkEventKey& event)
{
    m_drops.userActed();
    auto modifiers = event.state & gtk_accelerator_get_default_mod_mask();
    if (GtkHistoryKeys::key(m_view, event))
        return true;
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
    GtkDisplayScale::setZoom(m_view, level);
    if (m_client)
        m_client->zoomLevelChanged(level);
}

void GtkWebView::setZoom(ZoomKeys keys, double level)
{
    m_zoomKeys = keys;
    m_zoomLevel = level > 0 ? level : 1.0;
    if (m_view)
        GtkDisplayScale::setZoom(m_view, m_zoomLevel);
}

NavigationRequest GtkWebView::navigationRequest(WebKitNavigationAction* action)
{
    NavigationRequest request = GtkNavigationAction::request(action);
    // Not the view's address: that has moved to a redirect's target already.
    request.currentURL = m_committedURL;
    request.dropped = m_drops.takeDropNavigation(request.url);
    request.frameURLs = m_pageChannel.contexts().urlsBesides(m_pageChannel.mainFrame());
    return request;
}

bool GtkWebView::onlyAppContent() const
{
    return m_mainDocumentAppContent && m_pageChannel.contexts().allAppContent();
}

void GtkWebView::tryClose() { m_pageClose.tryClose(m_view); }

void GtkWebView::closeThroughPage(GtkWindow* window, std::function<void()> closed)
{
    m_pageClose.setClosed(std::move(closed));
    m_windowDelete = SignalConnection(window, g_signal_connect(window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
        static_cast<GtkWebView*>(data)->tryClose();
        return TRUE;
    }),
        this));
}

void GtkWebView::webProcessTerminated(WebKitWebProcessTerminationReason reason)
{
    m_pageChannel.processEnded();
    if (!m_pageChannel.extensionSeen() && context() && webkit_web_context_get_sandbox_enabled(context())) {
        log::warning(std::string("web process ") + GtkCrashRecovery::why(reason)
            + " before showing any page: its sandbox needs unprivileged user namespaces, which this system may not allow");
        GtkEngineContext::forgetSandboxProbe();
        return;
    }
    m_crashRecovery.processEnded(m_view, reason, [this] {
        // The reloaded document keeps the standing of the one lost: the host's load only when that
        // was the app's.
        const char* uri = webkit_web_view_get_uri(m_view);
        if (uri && m_mainDocumentAppContent)
            m_hostLoadURL = std::string(uri).substr(0, std::string_view(uri).find('#'));
    });
}

} // namespace penwick::platform
