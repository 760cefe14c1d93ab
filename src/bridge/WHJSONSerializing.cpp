#include "bridge/WHJSONSerializing.h"

#include "platform/Format.h"
#include "platform/Log.h"

namespace penwick::WHJSONSerializing {
namespace {
std::optional<std::string> dumpPretty(const Value& value, const char* errorLine)
{
    try {
        return value.dump(2);
    } catch (const nlohmann::json::exception& e) {
        log::message(format(errorLine, e.what()));
        return std::nullopt;
    }
}
} // namespace

std::optional<std::string> JSONString(const ValueArray& array)
{
    return dumpPretty(Value(array), "NSArray JSONString error: %@");
}

std::optional<std::string> JSONString(const ValueObject& object)
{
    return dumpPretty(Value(object), "NSDictionary JSONString error: %@");
}

std::optional<Value> JSONObject(std::string_view text)
{
    try {
        Value v = Value::parse(text);
        if (!v.is_array() && !v.is_object()) {
            log::message(format("NSString JSONObject error: %@", "top-level value is not an array or an object"));
            return std::nullopt;
        }
        return v;
    } catch (const nlohmann::json::exception& e) {
        log::message(format("NSString JSONObject error: %@", e.what()));
        return std::nullopt;
    }
}

} // namespace penwick::WHJSONSerializing
