#include "bridge/WHInvokedUrlCommand.h"

#include "bridge/WHBase64.h"
#include "bridge/WHJSONSerializing.h"
#include "base/Format.h"
#include "base/Log.h"

namespace penwick {
namespace {
const std::shared_ptr<const ValueArray>& emptyArguments()
{
    static const auto s_empty = std::make_shared<const ValueArray>();
    return s_empty;
}

bool isArrayBufferMarker(const Value& v)
{
    if (!v.is_object())
        return false;
    auto type = v.find("WHType");
    return type != v.end() && type->is_string() && type->get_ref<const std::string&>() == "ArrayBuffer"
        && v.contains("data");
}

// The byte buffer a marker stands for, or nothing (logged) when its text is not valid Base64.
std::optional<Value> decodeMarker(const Value& marker, size_t position)
{
    const Value& data = marker["data"];
    std::optional<Bytes> bytes;
    if (data.is_string())
        bytes = WHBase64::decodeStrict(data.get_ref<const std::string&>());
    if (!bytes) {
        // The marker stays as it came, so nothing the page sent is lost.
        log::message(format("ERROR: ArrayBuffer argument %d is not valid Base64; passed on unchanged", position));
        return std::nullopt;
    }
    return Value::binary(std::move(*bytes));
}

std::optional<std::string> stringEntry(const Value& v)
{
    if (v.is_string())
        return v.get<std::string>();
    return std::nullopt;
}
} // namespace

std::optional<std::string> WHInvokedUrlCommand::refusalForArguments(const Value& arguments)
{
    if (WHJSONSerializing::nestedDeeperThan(arguments, WHJSONSerializing::kMaxDepth))
        return format("the arguments are nested more than %@ levels deep", WHJSONSerializing::kMaxDepth);
    return std::nullopt;
}

bool isValueOfClass(const Value& value, ValueClass cls)
{
    switch (cls) {
    case ValueClass::String:
        return value.is_string();
    case ValueClass::Number:
        return value.is_number() || value.is_boolean();
    case ValueClass::Array:
        return value.is_array();
    case ValueClass::Dictionary:
        return value.is_object();
    case ValueClass::Bytes:
        return value.is_binary();
    }
    return false;
}

WHInvokedUrlCommand::WHInvokedUrlCommand(std::shared_ptr<const ValueArray> arguments,
    std::optional<std::string> callbackId, std::optional<std::string> className, std::optional<std::string> methodName)
    : m_callbackId(std::move(callbackId))
    , m_cmdClassName(std::move(className))
    , m_methodName(std::move(methodName))
    , m_arguments(arguments ? std::move(arguments) : emptyArguments())
{
    massageArguments();
}

WHInvokedUrlCommand::WHInvokedUrlCommand(ValueArray arguments, std::optional<std::string> callbackId,
    std::optional<std::string> className, std::optional<std::string> methodName)
    : WHInvokedUrlCommand(std::make_shared<const ValueArray>(std::move(arguments)), std::move(callbackId),
        std::move(className), std::move(methodName))
{
}

WHInvokedUrlCommand::WHInvokedUrlCommand(const Value& jsonEntry)
    : m_arguments(emptyArguments())
{
    if (!jsonEntry.is_array() || jsonEntry.size() < 4)
        return;
    const Value& callbackId = jsonEntry[0];
    if (callbackId.is_string())
        m_callbackId = callbackId.get<std::string>();
    else if (callbackId.is_number())
        m_callbackId = callbackId.dump();
    // Arguments that are not an array leave the command undispatchable rather than guessing.
    if (!jsonEntry[3].is_array())
        return;
    if (auto why = refusalForArguments(jsonEntry[3])) {
        log::message(format("ERROR: a queued command was dropped: %@.", *why));
        return;
    }
    m_cmdClassName = stringEntry(jsonEntry[1]);
    m_methodName = stringEntry(jsonEntry[2]);
    // The array is our own copy here, so markers are replaced in it directly.
    auto arguments = std::make_shared<ValueArray>(jsonEntry[3].get_ref<const ValueArray&>());
    for (size_t i = 0; i < arguments->size(); ++i) {
        if (isArrayBufferMarker((*arguments)[i])) {
            if (auto bytes = decodeMarker((*arguments)[i], i))
                (*arguments)[i] = std::move(*bytes);
        }
    }
    m_arguments = std::move(arguments);
}

void WHInvokedUrlCommand::massageArguments()
{
    const ValueArray& original = *m_arguments;
    std::shared_ptr<ValueArray> copy;
    for (size_t i = 0; i < original.size(); ++i) {
        if (!isArrayBufferMarker(original[i]))
            continue;
        auto bytes = decodeMarker(original[i], i);
        if (!bytes)
            continue;
        if (!copy)
            copy = std::make_shared<ValueArray>(original);
        (*copy)[i] = std::move(*bytes);
    }
    if (copy)
        m_arguments = std::move(copy);
}

const Value* WHInvokedUrlCommand::argumentAtIndex(size_t index, const Value* defaultValue,
    std::optional<ValueClass> cls) const
{
    const ValueArray& args = *m_arguments;
    if (index >= args.size())
        return defaultValue;
    const Value& arg = args[index];
    if (arg.is_null())
        return defaultValue;
    if (cls && !isValueOfClass(arg, *cls))
        return defaultValue;
    return &arg;
}

Value WHInvokedUrlCommand::argumentAtIndex(size_t index, const Value& defaultValue, std::optional<ValueClass> cls) const
{
    return *argumentAtIndex(index, &defaultValue, cls);
}

} // namespace penwick
