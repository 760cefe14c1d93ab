#pragma once

#include <optional>
#include <string>

#include "base/Value.h"
#include "platform/WebViewClient.h"

namespace penwick {

// The console the host gives pages in place of the engine's own: six functions, one log line
// each. It has no state; one instance serves every frame and page.
class WHConsole final : public platform::ScriptConsoleObject {
public:
    void log(const std::optional<Value>& value);
    void trace(const std::optional<Value>& value);
    void debug(const std::optional<Value>& value);
    void info(const std::optional<Value>& value);
    void warn(const std::optional<Value>& value);
    void error(const std::optional<Value>& value);

    void call(platform::ConsoleLevel level, const std::optional<Value>& value) override;

    // The text form of what the page passed: a string as it is, a number in decimal, a boolean as
    // the number 1 or 0, null as "<null>", nothing as "undefined", objects and arrays as JSON (one
    // nested more than WHJSONSerializing::kMaxDepth levels as a note saying so).
    static std::string description(const std::optional<Value>& value);
};

} // namespace penwick
