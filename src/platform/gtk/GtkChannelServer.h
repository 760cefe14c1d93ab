#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <webkit2/webkit2.h>

#include "channel/ChannelProtocol.h"

namespace penwick::platform {

class GtkChannelConnection;
class GtkWebView;

// The host's side of the channel to the web-process extension: a private Unix socket that every
// web process of the host's web contexts connects to, served from the main loop. Frames are routed
// to the web view whose page they name. The host never waits on a web process here.
class GtkChannelServer {
public:
    static GtkChannelServer& shared();
    ~GtkChannelServer();
    GtkChannelServer(const GtkChannelServer&) = delete;
    GtkChannelServer& operator=(const GtkChannelServer&) = delete;

    // Lets the web processes of `context` load the extension and find the socket. Call before the
    // context starts its first web process. False when the socket could not be made (logged).
    bool attach(WebKitWebContext* context, const std::string& extensionDirectory);

    void registerView(GtkWebView* view) { m_views.insert(view); }
    void unregisterView(GtkWebView* view) { m_views.erase(view); }

    // Removes the socket from disk; the process is ending.
    void shutdown();

private:
    GtkChannelServer() = default;
    bool listen();
    void accept();
    void handleFrame(GtkChannelConnection& connection, channel::Frame& frame);
    void connectionClosed(GtkChannelConnection& connection, const std::string& why);
    GtkWebView* viewForPage(std::uint64_t page) const;

    std::string m_directory;
    std::string m_socketPath;
    std::string m_token;
    int m_listenFd = -1;
    unsigned m_listenWatch = 0;
    bool m_failed = false;
    std::map<GtkChannelConnection*, std::shared_ptr<GtkChannelConnection>> m_connections;
    std::set<GtkWebView*> m_views;
    std::uint64_t m_nextContextId = 1;
};

} // namespace penwick::platform
