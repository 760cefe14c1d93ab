// Every payload decoder of the page channel: the first byte picks the message, the rest is its
// payload. Whatever a decoder takes, encoding it again gives a payload that decodes to the same
// message.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "channel/ChannelProtocol.h"

namespace penwick::fuzz::channel_payloads_target {

using namespace penwick::channel;

namespace {
template<typename Message>
void roundTrip(std::string_view payload)
{
    auto message = decode<Message>(payload);
    if (!message)
        return;
    std::string encoded = encode(*message);
    auto again = decode<Message>(encoded);
    FUZZ_CHECK(again);
    FUZZ_CHECK(encode(*again) == encoded);
}
} // namespace

FUZZ_TARGET(channel_payloads)
{
    if (size == 0)
        return 0;
    std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 10) {
    case 0: roundTrip<Hello>(payload); break;
    case 1: roundTrip<NewContext>(payload); break;
    case 2: roundTrip<ContextSetup>(payload); break;
    case 3: roundTrip<ExecCall>(payload); break;
    case 4: roundTrip<ExecTooLarge>(payload); break;
    case 5: roundTrip<ConsoleCall>(payload); break;
    case 6: roundTrip<EngineConsole>(payload); break;
    case 7: roundTrip<NativeCallback>(payload); break;
    case 8: roundTrip<CallbackAnswer>(payload); break;
    default: roundTrip<FrameGone>(payload); break;
    }
    return 0;
}

} // namespace penwick::fuzz::channel_payloads_target
