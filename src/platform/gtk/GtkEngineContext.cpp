#include "platform/gtk/GtkEngineContext.h"

#include "base/Format.h"
#include "base/Log.h"
#include "platform/gtk/GtkApplicationHost.h"
#include "platform/gtk/GtkChannelServer.h"

namespace penwick::platform {

GtkEngineContext& GtkEngineContext::shared()
{
    // Lives as long as the process, like the web views that use it.
    static auto* s_context = new GtkEngineContext;
    return *s_context;
}

WebKitWebContext* GtkEngineContext::context(const std::string& localStorageDirectory)
{
    if (m_context) {
        if (localStorageDirectory != m_localStorageDirectory && !localStorageDirectory.empty() && !m_lateFolderLogged) {
            m_lateFolderLogged = true;
            log::warning(format("local storage stays in %@: the engine context was made before %@ was asked for",
                m_localStorageDirectory.empty() ? std::string("the engine's default folder") : m_localStorageDirectory,
                localStorageDirectory));
        }
        return m_context.get();
    }
    m_localStorageDirectory = localStorageDirectory;
    const char* storage = localStorageDirectory.empty() ? nullptr : localStorageDirectory.c_str();
    m_dataManager = adopt(webkit_website_data_manager_new("local-storage-directory", storage, nullptr));
    m_context = adopt(webkit_web_context_new_with_website_data_manager(m_dataManager.get()));
    // Before the context starts its first web process: the extension and the channel's address.
    (void)GtkChannelServer::shared().attach(m_context.get(), GtkApplicationHost::webExtensionDirectory());
    for (auto& [scheme, handler] : m_schemes)
        registerWithEngine(scheme, handler.get());
    if (m_acceptAllCookies)
        acceptAllCookies();
    return m_context.get();
}

void GtkEngineContext::registerURIScheme(const std::string& scheme, SchemeHandler handler)
{
    if (m_schemes.count(scheme)) {
        log::warning(format("the URI scheme %@ is already served; the second handler is ignored", scheme));
        return;
    }
    auto& stored = m_schemes[scheme] = std::make_unique<SchemeHandler>(std::move(handler));
    if (m_context)
        registerWithEngine(scheme, stored.get());
}

void GtkEngineContext::registerWithEngine(const std::string& scheme, SchemeHandler* handler)
{
    webkit_web_context_register_uri_scheme(m_context.get(), scheme.c_str(),
        +[](WebKitURISchemeRequest* request, gpointer data) { (*static_cast<SchemeHandler*>(data))(request); }, handler,
        nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(m_context.get());
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
}

void GtkEngineContext::acceptAllCookies()
{
    m_acceptAllCookies = true;
    if (m_dataManager) {
        webkit_cookie_manager_set_accept_policy(webkit_website_data_manager_get_cookie_manager(m_dataManager.get()),
            WEBKIT_COOKIE_POLICY_ACCEPT_ALWAYS);
    }
}

} // namespace penwick::platform
