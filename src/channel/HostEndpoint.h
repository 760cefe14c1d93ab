#pragma once

#include <cstdint>
#include <string>

#include "channel/ChannelProtocol.h"

namespace penwick::channel {

class ChannelConnection;

// What the host does about a connection as a whole: its introduction, the ids of new script
// contexts, its end.
class HostEndpoint {
public:
    virtual ~HostEndpoint() = default;
    // A stranger's first frame was a Hello: the host lets it in (setIntroduced()) or closes it.
    virtual void introduce(ChannelConnection& connection, const Hello& hello) = 0;
    // The id of a new script context, unique among all connections.
    virtual std::uint64_t newContextId() = 0;
    // The connection has closed, saying why (empty when the host closed it without a reason).
    virtual void connectionClosed(ChannelConnection& connection, const std::string& why) = 0;
};

} // namespace penwick::channel
