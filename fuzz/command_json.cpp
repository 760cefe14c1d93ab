// Command batches as JSON text: each entry made into a command, its arguments asked for as plugins
// ask for them, and the command run through the real command queue against a plugin answering
// with the call's arguments. Every answer due reaches the page exactly once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "FuzzHost.h"
#include "bridge/WHCommandQueue.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHJSONSerializing.h"

using namespace penwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzHost& host = fuzz::FuzzHost::shared();
    std::string text(reinterpret_cast<const char*>(data), size);
    WHCommandQueue& queue = *host.controller().commandQueue();
    if (auto batch = WHJSONSerializing::JSONObject(text); batch && batch->is_array()) {
        static const ValueClass kClasses[] = { ValueClass::String, ValueClass::Number, ValueClass::Array,
            ValueClass::Dictionary, ValueClass::Bytes };
        for (const Value& entry : *batch) {
            auto command = WHInvokedUrlCommand::commandFromJson(entry);
            for (std::size_t i = 0; i <= command.arguments().size(); ++i) {
                for (ValueClass cls : kClasses) {
                    const Value* argument = command.argumentAtIndex(i, nullptr, cls);
                    FUZZ_CHECK(!argument || isValueOfClass(*argument, cls));
                }
            }
            (void)queue.execute(command);
        }
    }
    FUZZ_CHECK(host.settle() == host.takeAnswersDue());
    return 0;
}
