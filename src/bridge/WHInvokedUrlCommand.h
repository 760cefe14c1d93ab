#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/Value.h"
#include "bridge/WHCallbackAddress.h"

namespace penwick {

// One call from page script to a plugin action: callback id, service name, action name and the
// arguments, with ArrayBuffer markers at the top level of the arguments turned into byte buffers,
// and the script context (document) that made it. Built and read on the main thread; immutable
// once built.
class WHInvokedUrlCommand {
public:
    WHInvokedUrlCommand(std::shared_ptr<const ValueArray> arguments, std::optional<std::string> callbackId,
        std::optional<std::string> className, std::optional<std::string> methodName, std::uint64_t context = 0);
    WHInvokedUrlCommand(ValueArray arguments, std::optional<std::string> callbackId,
        std::optional<std::string> className, std::optional<std::string> methodName, std::uint64_t context = 0);
    // Why a call's arguments cannot be taken, or nothing. Arguments nested deeper than results
    // can be written (WHJSONSerializing::kMaxDepth levels, the arguments array counting as one)
    // are refused before anything copies them: copies recurse once per level.
    static std::optional<std::string> refusalForArguments(const Value& arguments);

    const std::optional<std::string>& callbackId() const { return m_callbackId; }
    std::uint64_t context() const { return m_context; }
    // Where the call's answers go; one without a callback id wants none.
    WHCallbackAddress address() const { return m_callbackId ? WHCallbackAddress { m_context, *m_callbackId } : WHCallbackAddress { m_context }; }
    const std::optional<std::string>& cmdClassName() const { return m_cmdClassName; }
    const std::optional<std::string>& methodName() const { return m_methodName; }
    const ValueArray& arguments() const { return *m_arguments; }
    // The array itself: the one the command was built with unless a marker had to be replaced.
    const std::shared_ptr<const ValueArray>& argumentsArray() const { return m_arguments; }

    // The argument at `index`, or `defaultValue` when the index is out of range or the argument is
    // the null marker. The answer points into the command or is `defaultValue` itself.
    const Value* argumentAtIndex(size_t index, const Value* defaultValue = nullptr) const;
    // The same rules, answering a copy; for defaults written in place.
    Value argumentAtIndex(size_t index, const Value& defaultValue) const;

private:
    void massageArguments();

    std::optional<std::string> m_callbackId;
    std::optional<std::string> m_cmdClassName;
    std::optional<std::string> m_methodName;
    std::shared_ptr<const ValueArray> m_arguments;
    std::uint64_t m_context = 0;
};

} // namespace penwick
