#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "platform/glib/MainLoopTimer.h"

namespace penwick::platform {

class GtkChannelServer;

// The one engine context of the application, shared by all its web views: the website data
// manager (cookies, storage), the URI schemes, their security-manager registrations, the
// web-process extension folder and the page channel. Downloads are refused (logged). The engine's
// context itself is made when the first web view needs it, because the local-storage folder
// (known once config.xml is read) can only be given then. The application host owns it.
class GtkEngineContext {
public:
    // The web processes load the extension from `extensionDirectory` and reach `channel`. Starts
    // probing the engine's sandbox.
    GtkEngineContext(GtkChannelServer& channel, std::string extensionDirectory);
    ~GtkEngineContext();
    GtkEngineContext(const GtkEngineContext&) = delete;
    GtkEngineContext& operator=(const GtkEngineContext&) = delete;

    // The context, made on the first call with `localStorageDirectory` (empty: the engine's
    // default). Later calls asking for another folder keep the first one (logged).
    WebKitWebContext* context(const std::string& localStorageDirectory);
    bool created() const { return static_cast<bool>(m_context); }
    GtkChannelServer& channelServer() { return m_channel; }
    // False when the channel's socket could not be made: that line says why no page gets the bridge,
    // and no other line need guess.
    bool channelOpen() const { return m_channelOpen; }
    const std::string& extensionDirectory() const { return m_extensionDirectory; }

    // Serves `scheme` with `handler` in every web view, and lets local pages (file:, the scheme's
    // own) use its URLs like secure ones with CORS (without that the engine does not hand requests
    // to the handler); other pages cannot load them. Register before the first load; registering a
    // scheme again replaces nothing (logged).
    using SchemeHandler = std::function<void(WebKitURISchemeRequest*)>;
    void registerURIScheme(const std::string& scheme, SchemeHandler handler);

    // Lets the web processes offer SharedArrayBuffer (wasm threads) to the app origin's pages, and
    // with them to every page the app's web processes show. Call once, first thing in the process.
    static void enableSharedArrayBuffer();

    // Makes the shared cookie store accept every cookie.
    void acceptAllCookies();

    // A folder the sandboxed web process may read (the app's web content). Give it before the
    // context is made; afterwards it is ignored.
    void addSandboxReadPath(const std::string& path);

    // Why the engine's web-process sandbox cannot start here ("" when it can): switched off by
    // PENWICK_DISABLE_SANDBOX, bubblewrap or the D-Bus proxy missing, or bubblewrap unable to
    // make the namespaces it needs (containers, systems without unprivileged user namespaces).
    // Waits for the probe that the constructor starts.
    std::string sandboxObstacle();
    // A web process that died in its sandbox before any page: the next start probes again.
    static void forgetSandboxProbe();

    // Runs `settled` once the engine's storage has done what the pages asked of it so far: a page
    // is told a file is written (a writable stream's close) before the engine has put the bytes in
    // place, and a host ending at once would take them along. One round trip through the engine's
    // storage queue, at most 2 s; at once when no context was made. A second call while one waits
    // replaces its `settled`.
    void afterStorageSettles(std::function<void()> settled);

private:
    void startSandboxProbe();
    void enableSandbox();
    void registerWithEngine(const std::string& scheme, SchemeHandler* handler);
    void refuseDownloads();
    void storageSettled();

    GtkChannelServer& m_channel;
    std::string m_extensionDirectory;
    GRef<WebKitWebsiteDataManager> m_dataManager;
    GRef<WebKitWebContext> m_context;
    std::string m_localStorageDirectory;
    bool m_acceptAllCookies = false;
    bool m_channelOpen = false;
    bool m_lateFolderLogged = false;
    std::map<std::string, std::unique_ptr<SchemeHandler>> m_schemes;
    std::vector<std::string> m_sandboxReadPaths;
    std::function<void()> m_settled;
    GRef<GCancellable> m_settling;
    MainLoopTimer m_settleLimit;
    bool m_sandboxProbeStarted = false;
    GRef<GSubprocess> m_sandboxProbe;
    // What a successful probe answered for (see sandboxProbeKey); kept so that later starts on
    // this boot need not run it again.
    std::string m_sandboxProbeKey;
    std::string m_sandboxObstacle;
};

} // namespace penwick::platform
