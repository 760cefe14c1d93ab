#pragma once

#include <string_view>
#include <webkit2/webkit-web-extension.h>

#include "base/GRef.h"
#include "channel/ChannelProtocol.h"
#include "webext/ContextRef.h"

namespace penwick::webext {

class ExtensionChannel;

// Installs in a new script context what the host's set-up for it asks for: the page's console, the
// bridge with its one member `exec`, the host's scripts and the load listener. The bridge's calls
// and the console's lines travel to the host on the channel.
class BridgeInstaller {
public:
    // Tests stand in for a web process that disobeys the host (Everywhere): every context gets
    // `hostbridge`, so that the host's own check of each call can be seen at work.
    enum class Reach { AsTheHostSays, Everywhere };

    explicit BridgeInstaller(ExtensionChannel& channel) : m_channel(channel) { }
    void setReach(Reach reach) { m_reach = reach; }

    // `ref` names the document the host knows the context as.
    void install(JSCContext* context, ContextRef ref, const channel::ContextSetup& setup) const;

    // A function of the page's world that calls `callback` with a copy of `ref` as its data.
    static GRef<JSCValue> nativeFunction(JSCContext* context, const char* name, GCallback callback, const ContextRef& ref);
    static void evaluateIgnoringResult(JSCContext* context, std::string_view script);

private:
    ExtensionChannel& m_channel;
    Reach m_reach = Reach::AsTheHostSays;
};

} // namespace penwick::webext
