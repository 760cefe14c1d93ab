#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "channel/ChannelConnection.h"
#include "channel/ChannelProtocol.h"
#include "channel/HostEndpoint.h"
#include "channel/PageEndpoint.h"
#include "platform/glib/MainLoopTimer.h"

namespace penwick::platform {

// The host's side of the channel to the web-process extension: a private Unix socket that every
// web process of the host's engine context connects to, served from the main loop. It accepts
// connections and checks their introduction; each connection decodes its frames and hands them to
// the web view whose page they name. The host never waits on a web process here.
class GtkChannelServer final : public channel::HostEndpoint {
public:
    GtkChannelServer() = default;
    ~GtkChannelServer() override;
    GtkChannelServer(const GtkChannelServer&) = delete;
    GtkChannelServer& operator=(const GtkChannelServer&) = delete;

    // Lets the web processes of `context` load the extension and find the socket. Call before the
    // context starts its first web process. False when the socket could not be made (logged).
    bool attach(WebKitWebContext* context, const std::string& extensionDirectory);

    void registerView(channel::PageEndpoint* view) { m_views.insert(view); }
    void unregisterView(channel::PageEndpoint* view) { m_views.erase(view); }
    // A web process has claimed a page: a new context that waits for that is answered.
    void pageClaimed();

    // The largest payload either side sends (kMaxPayload unless lowered). Test builds lower it to
    // reach the limit cheaply; call before attach().
    std::size_t maxPayload() const { return m_maxPayload; }
    void setMaxPayloadForTesting(std::size_t limit);

    // Makes the host's own folder for this run and listens there; false when pages get no bridge.
    bool listen();
    // A folder for the engine's processes' temporary files inside the host's own, which goes with
    // the host (and with a killed host's folder at the next start); empty before listen() or
    // where it could not be made.
    const std::string& engineTemporaryFolder() const { return m_engineTemporaryFolder; }

    // Removes the folder and socket from disk; the process is ending.
    void shutdown();

private:
    // A web process of `context` is about to start: it gets a token of its own.
    void issueCredential(WebKitWebContext* context);
    void watchListener();
    // False when the listener must rest (no descriptors left): a timer watches it again later.
    bool accept();
    void introduce(channel::ChannelConnection& connection, const channel::Hello& hello) override;
    std::uint64_t newContextId() override { return m_nextContextId++; }
    void connectionClosed(channel::ChannelConnection& connection, const std::string& why) override;

    std::string m_directory;
    std::string m_socketPath;
    std::string m_engineTemporaryFolder;
    // The token each web process got at its start, its credential; a Hello must bring one, and
    // only once: a web process opens one connection, so another with its token is not its own doing
    // (each connection may hold a frame as large as the limit).
    enum class CredentialUse { Issued, Brought, BroughtAgain };
    std::map<std::string, CredentialUse> m_credentials;
    SignalConnection m_processStarting;
    int m_listenFd = -1;
    unsigned m_listenWatch = 0;
    MainLoopTimer m_acceptRetry;
    bool m_acceptFailing = false;
    // Refusals logged in the current second, and those left out of the log.
    std::int64_t m_refusalSecond = 0;
    unsigned m_refusalsLogged = 0;
    unsigned m_refusalsUnlogged = 0;
    bool m_failed = false;
    std::size_t m_maxPayload = channel::kMaxPayload;
    std::map<channel::ChannelConnection*, std::shared_ptr<channel::ChannelConnection>> m_connections;
    // Accepted connections that have not introduced themselves yet, oldest first.
    std::list<std::weak_ptr<channel::ChannelConnection>> m_strangers;
    channel::PageEndpoints m_views;
    std::uint64_t m_nextContextId = 1;
};

} // namespace penwick::platform
