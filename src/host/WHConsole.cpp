#include "host/WHConsole.h"

#include "base/Format.h"
#include "base/Log.h"
#include "bridge/WHJSONSerializing.h"

namespace penwick {

std::string WHConsole::description(const std::optional<Value>& value)
{
    if (!value)
        return "undefined";
    if (value->is_string())
        return value->get<std::string>();
    if (value->is_null())
        return "<null>";
    if (value->is_boolean())
        return value->get<bool>() ? "1" : "0";
    // Writing recurses once per level: a page's deeply nested value is named, not written.
    if (WHJSONSerializing::nestedDeeperThan(*value, WHJSONSerializing::kMaxDepth))
        return format("(a value nested more than %@ levels deep)", WHJSONSerializing::kMaxDepth);
    // Numbers, objects and arrays; text that is not valid UTF-8 cannot come from the page, but
    // is replaced rather than thrown on.
    return value->dump(-1, ' ', false, Value::error_handler_t::replace);
}

void WHConsole::log(const std::optional<Value>& value) { log::message(format("%@", description(value))); }
void WHConsole::trace(const std::optional<Value>& value) { log::message(format("trace: %@", description(value))); }
void WHConsole::debug(const std::optional<Value>& value) { log::message(format("debug: %@", description(value))); }
void WHConsole::info(const std::optional<Value>& value) { log::message(format("info: %@", description(value))); }
void WHConsole::warn(const std::optional<Value>& value) { log::message(format("warn: %@", description(value))); }
void WHConsole::error(const std::optional<Value>& value) { log::message(format("error: %@", description(value))); }

void WHConsole::call(platform::ConsoleLevel level, const std::optional<Value>& value)
{
    switch (level) {
    case platform::ConsoleLevel::Log:
        return log(value);
    case platform::ConsoleLevel::Trace:
        return trace(value);
    case platform::ConsoleLevel::Debug:
        return debug(value);
    case platform::ConsoleLevel::Info:
        return info(value);
    case platform::ConsoleLevel::Warn:
        return warn(value);
    case platform::ConsoleLevel::Error:
        return error(value);
    }
}

} // namespace penwick
