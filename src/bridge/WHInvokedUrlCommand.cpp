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
} // namespace

std::optional<std::string> WHInvokedUrlCommand::refusalForArguments(const Value& arguments)
{
    if (WHJSONSerializing::nestedDeeperThan(arguments, WHJSONSerializing::kMaxDepth))
        return format("the arguments are nested more than %@ levels deep", WHJSONSerializing::kMaxDepth);
    return std::nullopt;
}

WHInvokedUrlCommand::WHInvokedUrlCommand(std::shared_ptr<const ValueArray> arguments,
    std::optional<std::string> callbackId, std::optional<std::string> className, std::optional<std::string> methodName,
    std::uint64_t context)
    : m_callbackId(std::move(callbackId))
    , m_cmdClassName(std::move(className))
    , m_methodName(std::move(methodName))
    , m_arguments(arguments ? std::move(arguments) : emptyArguments())
    , m_context(context)
{
    massageArguments();
}

WHInvokedUrlCommand::WHInvokedUrlCommand(ValueArray arguments, std::optional<std::string> callbackId,
    std::optional<std::string> className, std::optional<std::string> methodName, std::uint64_t context)
    : WHInvokedUrlCommand(std::make_shared<const ValueArray>(std::move(arguments)), std::move(callbackId),
        std::move(className), std::move(methodName), context)
{
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

const Value* WHInvokedUrlCommand::argumentAtIndex(size_t index, const Value* defaultValue) const
{
    const ValueArray& args = *m_arguments;
    if (index >= args.size())
        return defaultValue;
    const Value& arg = args[index];
    if (arg.is_null())
        return defaultValue;
    return &arg;
}

Value WHInvokedUrlCommand::argumentAtIndex(size_t index, const Value& defaultValue) const
{
    return *argumentAtIndex(index, &defaultValue);
}

} // namespace penwick
