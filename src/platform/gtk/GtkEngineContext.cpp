#include "platform/gtk/GtkEngineContext.h"

#include <cstdlib>
#include <string_view>
#include <glib/gstdio.h>

#include "base/Format.h"
#include "base/Log.h"
#include "platform/gtk/GtkChannelServer.h"

namespace penwick::platform {
namespace {

// Where a successful sandbox probe is remembered: the runtime folder lasts one login at most.
std::string sandboxProbeRecord()
{
    GUnique<char> path(g_build_filename(g_get_user_runtime_dir(), "penwick-sandbox-probe", nullptr));
    return path.get();
}

// What decides whether bubblewrap can make its namespaces: the boot, this process's namespaces
// and confinement (another container, a service's seccomp filter or security label), the kernel's
// switches for unprivileged namespaces, and bubblewrap itself (a setuid bit removed shows in its
// mode). A probe's answer holds while all of them stay as they were.
std::string sandboxProbeKey(const char* bubblewrap)
{
    std::string key;
    for (const char* file : { "/proc/sys/kernel/random/boot_id", "/proc/sys/user/max_user_namespaces",
             "/proc/sys/kernel/unprivileged_userns_clone", "/proc/sys/kernel/apparmor_restrict_unprivileged_userns",
             "/proc/self/attr/current" }) {
        GUnique<char> text;
        key += g_file_get_contents(file, &text.outPtr(), nullptr, nullptr) ? text.get() : "-\n";
    }
    GUnique<char> status;
    if (g_file_get_contents("/proc/self/status", &status.outPtr(), nullptr, nullptr)) {
        for (std::string_view rest(status.get()); !rest.empty();) {
            auto line = rest.substr(0, rest.find('\n') + 1);
            rest.remove_prefix(line.size() ? line.size() : rest.size());
            if (line.starts_with("Seccomp") || line.starts_with("NoNewPrivs"))
                key += line;
        }
    }
    for (const char* link : { "/proc/self/ns/user", "/proc/self/ns/mnt" }) {
        GUnique<char> target(g_file_read_link(link, nullptr));
        key += std::string(target ? target.get() : "-") + "\n";
    }
    GStatBuf info {};
    if (g_stat(bubblewrap, &info) != 0)
        return {};
    return key + format("%@ %@ %@ %@ %@ %@\n", std::string(bubblewrap), static_cast<long long>(info.st_size),
                     static_cast<long long>(info.st_mtime), static_cast<long long>(info.st_ctime),
                     static_cast<long long>(info.st_ino), static_cast<long long>(info.st_mode));
}

} // namespace

GtkEngineContext::GtkEngineContext(GtkChannelServer& channel, std::string extensionDirectory)
    : m_channel(channel)
    , m_extensionDirectory(std::move(extensionDirectory))
{
    startSandboxProbe();
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
    // Before the first web process, and before the channel adds its socket folder to the sandbox.
    enableSandbox();
    // Before the context starts its first web process: the extension and the channel's address.
    m_channelOpen = m_channel.attach(m_context.get(), m_extensionDirectory);
    for (auto& [scheme, handler] : m_schemes)
        registerWithEngine(scheme, handler.get());
    refuseDownloads();
    if (m_acceptAllCookies)
        acceptAllCookies();
    return m_context.get();
}

GtkEngineContext::~GtkEngineContext()
{
    if (m_settling)
        g_cancellable_cancel(m_settling.get());
}

void GtkEngineContext::afterStorageSettles(std::function<void()> settled)
{
    if (!m_dataManager) {
        settled();
        return;
    }
    m_settled = std::move(settled);
    if (m_settling)
        return;
    m_settleLimit.start(2000, [this] {
        log::warning("the engine's storage did not answer in 2 s; ending without waiting for it");
        storageSettled();
    });
    // A fetch is answered from the storage queue, after what the pages sent it before.
    m_settling = adopt(g_cancellable_new());
    struct Fetch {
        GtkEngineContext* self;
        GRef<GCancellable> cancellable;
    };
    auto types = static_cast<WebKitWebsiteDataTypes>(WEBKIT_WEBSITE_DATA_LOCAL_STORAGE | WEBKIT_WEBSITE_DATA_INDEXEDDB_DATABASES);
    webkit_website_data_manager_fetch(m_dataManager.get(), types, m_settling.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Fetch> fetch(static_cast<Fetch*>(data));
            GUnique<GError> error;
            GList* found = webkit_website_data_manager_fetch_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result, &error.outPtr());
            g_list_free_full(found, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref));
            // Cancelled by the limit or by the context's end, whatever the engine answered.
            if (!g_cancellable_is_cancelled(fetch->cancellable.get()))
                fetch->self->storageSettled();
        },
        new Fetch { this, m_settling });
}

void GtkEngineContext::storageSettled()
{
    m_settleLimit.stop();
    if (auto settling = std::exchange(m_settling, nullptr))
        g_cancellable_cancel(settling.get());
    if (auto settled = std::exchange(m_settled, nullptr))
        settled();
}

void GtkEngineContext::enableSharedArrayBuffer()
{
    // The engine turns SharedArrayBuffer on per web process, by itself only for processes it makes
    // for cross-origin isolated documents, which it recognises only for network loads: the app
    // origin's pages are never isolated (crossOriginIsolated stays false, and the engine applies
    // neither their COOP nor their COEP), so they would never get it. The script engine's option,
    // read from the environment the web processes inherit, turns it on in every web process of the
    // app, for every page and worker they show, isolated or not. Hence only for apps that opt into
    // the app origin (the wasm threads their libraries need): the app's pages gain nothing they
    // could not do already (they read the app's files and call native code), and a web page the
    // app shows (the popup's, a site the main frame goes to, a web frame in an app page) gains a
    // fine timer against the web process it runs in, which holds its own page and, for a frame, the
    // app page around it: such apps should frame no web content they do not trust. Called while
    // the process has one thread: the environment is not safe to change later. A value the user
    // set wins.
    g_setenv("JSC_useSharedArrayBuffer", "1", FALSE);
}

void GtkEngineContext::addSandboxReadPath(const std::string& path)
{
    // The engine refuses a folder that does not exist (a Documents folder nobody made).
    if (!path.empty() && !m_context && g_file_test(path.c_str(), G_FILE_TEST_IS_DIR))
        m_sandboxReadPaths.push_back(path);
}

void GtkEngineContext::startSandboxProbe()
{
    if (m_sandboxProbeStarted)
        return;
    m_sandboxProbeStarted = true;
    if (const char* off = g_getenv("PENWICK_DISABLE_SANDBOX"); off && *off && std::string_view(off) != "0") {
        m_sandboxObstacle = "PENWICK_DISABLE_SANDBOX is set";
        return;
    }
    GUnique<char> bubblewrap(g_find_program_in_path("bwrap"));
    GUnique<char> proxy(g_find_program_in_path("xdg-dbus-proxy"));
    if (!bubblewrap || !proxy) {
        m_sandboxObstacle = format("%@ is not installed", !bubblewrap ? "bwrap" : "xdg-dbus-proxy");
        return;
    }
    // The engine's sandbox set-up crashes the host when the home folder does not exist.
    if (!g_file_test(g_get_home_dir(), G_FILE_TEST_IS_DIR)) {
        m_sandboxObstacle = format("the home folder %@ does not exist", std::string(g_get_home_dir()));
        return;
    }
    // Inside the sandbox /var/tmp is a link to the sandbox's own /tmp: the engine cannot bind a
    // folder of the user's beneath it (a home in /var/tmp), and would end the host at its first page.
    for (const char* folder : { g_get_user_runtime_dir(), g_get_user_data_dir(), g_get_user_cache_dir() }) {
        GUnique<char> real(realpath(folder, nullptr));
        std::string_view path = real ? real.get() : folder;
        if (path == "/var/tmp" || path.starts_with("/var/tmp/")) {
            m_sandboxObstacle = format("the engine's sandbox cannot bind %@: it makes /var/tmp a link to its own /tmp", std::string(path));
            return;
        }
    }
    // The engine's own launcher asks for these namespaces and mounts; containers and hardened
    // systems refuse some of them. One short run answers for all, but its fork and namespaces cost
    // start-up time on a busy machine: once it has said yes, starts on this boot take its word.
    m_sandboxProbeKey = sandboxProbeKey(bubblewrap.get());
    GUnique<char> recorded;
    if (!m_sandboxProbeKey.empty() && g_file_get_contents(sandboxProbeRecord().c_str(), &recorded.outPtr(), nullptr, nullptr)
        && m_sandboxProbeKey == recorded.get())
        return;
    const char* probe[] = { "bwrap", "--unshare-all", "--die-with-parent", "--ro-bind", "/", "/", "--proc", "/proc", "true", nullptr };
    GUnique<GError> error;
    m_sandboxProbe = adopt(g_subprocess_newv(probe, GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_PIPE),
        &error.outPtr()));
    if (!m_sandboxProbe)
        m_sandboxObstacle = format("bubblewrap does not run: %@", std::string(error->message));
}

void GtkEngineContext::forgetSandboxProbe() { (void)g_unlink(sandboxProbeRecord().c_str()); }

std::string GtkEngineContext::sandboxObstacle()
{
    startSandboxProbe();
    if (m_sandboxProbe) {
        GUnique<char> errors;
        GUnique<GError> error;
        bool ran = g_subprocess_communicate_utf8(m_sandboxProbe.get(), nullptr, nullptr, nullptr, &errors.outPtr(), &error.outPtr());
        if (!ran || !g_subprocess_get_successful(m_sandboxProbe.get())) {
            std::string why = errors ? g_strstrip(errors.get()) : "";
            m_sandboxObstacle = format("bubblewrap cannot make its namespaces here (%@)", why.empty() ? std::string("no reason given") : why);
        } else if (!m_sandboxProbeKey.empty()) {
            // Only a convenience: without the record the next start probes again.
            (void)g_file_set_contents(sandboxProbeRecord().c_str(), m_sandboxProbeKey.c_str(), -1, nullptr);
        }
        m_sandboxProbe = nullptr;
    }
    return m_sandboxObstacle;
}

void GtkEngineContext::enableSandbox()
{
    std::string obstacle = sandboxObstacle();
    if (!obstacle.empty()) {
        log::warning(format("web pages run without the engine's sandbox: %@", obstacle));
        return;
    }
    webkit_web_context_set_sandbox_enabled(m_context.get(), TRUE);
    webkit_web_context_add_path_to_sandbox(m_context.get(), m_extensionDirectory.c_str(), TRUE);
    // The engine binds the session bus's proxy and the display's socket into the runtime folder
    // inside the sandbox: a read-only folder holding it (TMPDIR=/tmp with XDG_RUNTIME_DIR=/tmp/...,
    // as in CI and containers) would leave bubblewrap nowhere to make them, and no web process
    // would start. Such a folder stays out of the sandbox; the rest of the pages' files do not.
    GUnique<char> runtime(realpath(g_get_user_runtime_dir(), nullptr));
    for (const auto& path : m_sandboxReadPaths) {
        GUnique<char> real(realpath(path.c_str(), nullptr));
        std::string_view folder = real ? real.get() : path.c_str();
        std::string_view inside = runtime ? runtime.get() : "";
        if (!inside.empty() && inside.starts_with(folder) && (inside.size() == folder.size() || folder == "/" || inside[folder.size()] == '/')) {
            log::warning(format("web pages cannot read %@ (its files play no media): it holds the runtime folder %@, which the engine's sandbox "
                                "makes its own", path, std::string(inside)));
            continue;
        }
        // Inside the sandbox /var/tmp is a link to the sandbox's own /tmp: bound there, the folder
        // (TMPDIR=/var/tmp) would cover that /tmp read-only, the display's socket could not be
        // made in it, and no web process would start.
        if (folder == "/var/tmp") {
            log::warning(
                format("web pages cannot read %@ (its files play no media): the engine's sandbox makes it a link to its own /tmp", path));
            continue;
        }
        webkit_web_context_add_path_to_sandbox(m_context.get(), path.c_str(), TRUE);
    }
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
    // Local, like file: only local documents (the app's files, the scheme's own pages) may load or
    // link its URLs. The engine checks that in the page's web process against the document's
    // origin, before a request is made, so no web or opaque origin reaches the handler that way.
    webkit_security_manager_register_uri_scheme_as_local(security, scheme.c_str());
}

namespace {

void refuseDownload(WebKitWebContext*, WebKitDownload* download, gpointer)
{
    WebKitURIRequest* request = webkit_download_get_request(download);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    // The origin only: the rest of the URL may hold what the page would not have logged.
    GUnique<char> scheme, host;
    std::string from = "an address that is not a URL";
    if (uri && g_uri_split(uri, G_URI_FLAGS_ENCODED, &scheme.outPtr(), nullptr, &host.outPtr(), nullptr, nullptr, nullptr, nullptr, nullptr))
        from = host && *host.get() ? format("%@://%@", std::string(scheme.get()), std::string(host.get())) : std::string(scheme.get()) + ":";
    log::message(format("refused a download from %@: the app does not save downloads", from));
    webkit_download_cancel(download);
}

} // namespace

void GtkEngineContext::refuseDownloads()
{
    // Nothing the pages of any web view start is saved: the engine would otherwise write it into
    // the user's folders unasked. Cancelled before a destination is chosen, so no file is made.
    g_signal_connect(m_context.get(), "download-started", G_CALLBACK(refuseDownload), nullptr);
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
