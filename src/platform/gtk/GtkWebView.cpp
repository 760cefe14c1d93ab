#include "platform/gtk/GtkWebView.h"

#include "platform/Log.h"

namespace penwick::platform {

GtkWebView::GtkWebView(GtkWidget* container) : m_container(container) { }

GtkWebView::~GtkWebView()
{
    if (m_creationSource)
        g_source_remove(m_creationSource);
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
    if (m_view)
        return;
    if (m_creationSource) {
        g_source_remove(m_creationSource);
        m_creationSource = 0;
    }
    const char* storage = m_prefs.localStorageDatabasePath.empty() ? nullptr : m_prefs.localStorageDatabasePath.c_str();
    m_dataManager = adopt(webkit_website_data_manager_new("local-storage-directory", storage, nullptr));
    m_context = adopt(webkit_web_context_new_with_website_data_manager(m_dataManager.get()));
    m_view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(m_context.get()));

    m_loadChanged = SignalConnection(m_view,
        g_signal_connect(m_view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
            auto* self = static_cast<GtkWebView*>(data);
            if (event == WEBKIT_LOAD_FINISHED && self->m_loadFinished)
                self->m_loadFinished(true);
        }),
            this));
    m_loadFailed = SignalConnection(m_view,
        g_signal_connect(m_view, "load-failed",
            G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char* uri, GError* error, gpointer) -> gboolean {
                log::message(std::string("page load failed: ") + (uri ? uri : "") + ": " + (error ? error->message : ""));
                return FALSE;
            }),
            this));
    m_processTerminated = SignalConnection(m_view,
        g_signal_connect(m_view, "web-process-terminated",
            G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer) {
                const char* why = reason == WEBKIT_WEB_PROCESS_CRASHED ? "crashed"
                    : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "exceeded its memory limit"
                                                                           : "was terminated";
                log::warning(std::string("web process ") + why + "; reload the page to continue");
            }),
            this));

    gtk_container_add(GTK_CONTAINER(m_container), GTK_WIDGET(m_view));
    gtk_widget_show(GTK_WIDGET(m_view));
    applySettings();
    for (auto& hook : m_createdHooks)
        hook(m_view, m_context.get());
    runPendingLoad();
    for (auto& script : m_pendingScripts)
        evaluateScript(script);
    m_pendingScripts.clear();
}

void GtkWebView::whenCreated(CreatedHook hook)
{
    if (m_view)
        hook(m_view, m_context.get());
    m_createdHooks.push_back(std::move(hook));
}

void GtkWebView::applySettings()
{
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    if (m_prefs.webGLEnabled)
        webkit_settings_set_enable_webgl(settings, TRUE);
    webkit_settings_set_enable_html5_local_storage(settings, m_prefs.localStorageEnabled);
    if (!m_drawsBackground) {
        GdkRGBA transparent { 0, 0, 0, 0 };
        webkit_web_view_set_background_color(m_view, &transparent);
    }
    if (m_acceptAllCookies) {
        webkit_cookie_manager_set_accept_policy(webkit_website_data_manager_get_cookie_manager(m_dataManager.get()),
            WEBKIT_COOKIE_POLICY_ACCEPT_ALWAYS);
    }
}

void GtkWebView::runPendingLoad()
{
    auto pending = std::exchange(m_pendingLoad, PendingLoad::None);
    if (pending == PendingLoad::Url)
        webkit_web_view_load_uri(m_view, m_pendingContent.c_str());
    else if (pending == PendingLoad::Html)
        webkit_web_view_load_html(m_view, m_pendingContent.c_str(), nullptr);
    m_pendingContent.clear();
}

void GtkWebView::loadRequest(const std::string& url, std::chrono::seconds)
{
    // The engine has no per-request time-out; its own network time-outs apply.
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
    webkit_web_view_evaluate_javascript(m_view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr,
        nullptr, nullptr, nullptr);
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

void GtkWebView::acceptAllCookies()
{
    m_acceptAllCookies = true;
    if (m_view)
        applySettings();
}

} // namespace penwick::platform
