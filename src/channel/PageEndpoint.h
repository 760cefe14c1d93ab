#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "channel/ChannelProtocol.h"

namespace penwick::channel {

class ChannelConnection;

// One page the host shows, as the page channel serves it: the connection decodes every frame a
// web process sends about the page and hands the message here, on the main loop. A frame the
// web process waits on is answered by the connection once the handler has returned.
class PageEndpoint {
public:
    virtual ~PageEndpoint() = default;
    // The engine's id of the page, as frames name it (0 while the page has none).
    virtual std::uint64_t pageId() const = 0;
    // True when the web process whose token is `credential` has claimed the page, i.e. hosts it
    // (see kPageClaimMessage). A connection speaks for a page only then.
    virtual bool hostedBy(const std::string& credential) const = 0;
    // A frame of the page has a fresh window object; `contextId` is the id the host gave its
    // script context. Answers what the context gets.
    virtual ContextSetup didCreateScriptContext(std::shared_ptr<ChannelConnection> connection, std::uint64_t contextId,
        const NewContext& notice) = 0;
    virtual void execInContext(const ChannelConnection& from, std::uint64_t contextId, ExecCall&& call) = 0;
    // A call too large for the channel (`limit` bytes).
    virtual void execTooLarge(const ChannelConnection& from, std::uint64_t contextId, const ExecTooLarge& call,
        std::size_t limit) = 0;
    virtual void consoleInContext(const ChannelConnection& from, std::uint64_t contextId, ConsoleCall&& call) = 0;
    virtual void engineConsoleMessage(const EngineConsole& message) = 0;
    virtual void frameGone(std::uint64_t frame) = 0;
    // The page's next script dialog comes from the document of `contextId` (0: that dialog is over).
    virtual void dialogOpener(const ChannelConnection& /*from*/, std::uint64_t /*contextId*/) { }
    // The connection has closed; true when it served this page.
    virtual bool connectionClosed(const ChannelConnection& connection) = 0;
};

// The pages frames are routed to, by the page they name. Main thread only.
using PageEndpoints = std::set<PageEndpoint*>;

} // namespace penwick::channel
