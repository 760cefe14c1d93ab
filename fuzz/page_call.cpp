// A page call as the web-process extension sends it (the Exec frame's payload), decoded and handed
// to the page's bridge object, which dispatches it through the real command delegate and plugin
// registry to a plugin answering with the call's arguments. Every call that reaches the plugin
// with a callback id is answered exactly once, and the arguments written as JSON read back to the
// same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "FuzzHost.h"
#include "bridge/WHBridge.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHJSONSerializing.h"
#include "channel/ChannelProtocol.h"

namespace penwick::fuzz::page_call_target {


FUZZ_TARGET(page_call)
{
    fuzz::FuzzHost& host = fuzz::FuzzHost::shared();
    auto call = channel::decode<channel::ExecCall>(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!call)
        return 0;
    platform::WindowObject window;
    // Answers are bound to this document's id, whatever id the page wrote.
    window.contextId = 1;
    WHBridge bridge(host.webView(), &host.controller(), window);
    bridge.exec(call->callbackId, call->service, call->action, call->arguments);
    const Value& id = call->callbackId;
    bool wantsAnswer = (id.is_string() && id.get<std::string>() != "INVALID") || id.is_number();
    FUZZ_CHECK(host.settle() == (wantsAnswer ? 1u : 0u));
    (void)host.takeAnswersDue();

    if (!call->arguments.is_array())
        return 0;
    WHInvokedUrlCommand command(call->arguments.get<ValueArray>(), std::nullopt, std::nullopt, std::nullopt);
    std::string json;
    if (WHJSONSerializing::appendPrettyJSON(json, Value(command.arguments()), 0))
        return 0;
    Value reread = Value::parse(json);
    FUZZ_CHECK(reread.is_array());
    std::string again;
    FUZZ_CHECK(!WHJSONSerializing::appendPrettyJSON(again, reread, 0) && again == json);
    return 0;
}

} // namespace penwick::fuzz::page_call_target
