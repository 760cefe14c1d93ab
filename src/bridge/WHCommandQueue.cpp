#include "bridge/WHCommandQueue.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "bridge/WHCommandDelegate.h"
#include "bridge/WHControllerInterface.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHJSONSerializing.h"
#include "bridge/WHPlugin.h"
#include "bridge/WHPluginResult.h"
#include "base/Format.h"
#include "base/Log.h"

namespace penwick {
namespace {
// A request id as a signed 64-bit integer: numbers are truncated and clamped; texts are read
// like a leading decimal integer (blanks, a sign, digits, clamped on overflow; 0 when none).
std::int64_t requestIdValue(const Value& id)
{
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    // Unsigned first: is_number_integer() holds for unsigned numbers too.
    if (id.is_number_unsigned()) {
        auto v = id.get<std::uint64_t>();
        return v > static_cast<std::uint64_t>(kMax) ? kMax : static_cast<std::int64_t>(v);
    }
    if (id.is_number_integer())
        return id.get<std::int64_t>();
    if (id.is_number_float()) {
        double d = id.get<double>();
        if (std::isnan(d))
            return 0;
        if (d >= 9.2233720368547758e18)
            return kMax;
        if (d <= -9.2233720368547758e18)
            return kMin;
        return static_cast<std::int64_t>(d);
    }
    if (id.is_boolean())
        return id.get<bool>() ? 1 : 0;
    if (id.is_string()) {
        const std::string& text = id.get_ref<const std::string&>();
        long long v = std::strtoll(text.c_str(), nullptr, 10);
        return static_cast<std::int64_t>(v); // strtoll clamps on overflow and answers 0 for no digits
    }
    return 0;
}
} // namespace

WHCommandQueue::WHCommandQueue(WHControllerInterface& viewController) : m_viewController(&viewController) { }

WHCommandQueue::~WHCommandQueue() = default;

void WHCommandQueue::enqueCommandBatch(std::string batch)
{
    if (batch.empty())
        return;
    m_queue.push_back(std::move(batch));
    executePending();
}

void WHCommandQueue::maybeFetchCommandsFromJs(const Value& requestId)
{
    std::int64_t id = requestIdValue(requestId);
    if (id > m_lastCommandQueueFlushRequestId) {
        m_lastCommandQueueFlushRequestId = id;
        fetchCommandsFromJs();
    }
}

void WHCommandQueue::executePending()
{
    // A batch queued while a run is in progress is picked up by that run.
    if (m_currentlyExecuting)
        return;
    m_currentlyExecuting = true;
    try {
        // The count is read again before every batch: actions may queue more.
        for (size_t i = 0; i < m_queue.size(); ++i) {
            auto commands = WHJSONSerializing::JSONObject(m_queue[i]);
            if (!commands || !commands->is_array())
                continue;
            for (const auto& entry : *commands) {
                auto command = WHInvokedUrlCommand::commandFromJson(entry);
                // A failing command is logged by execute() and the batch goes on.
                (void)execute(command);
            }
        }
    } catch (...) {
        m_currentlyExecuting = false;
        throw;
    }
    m_queue.clear();
    m_currentlyExecuting = false;
}

bool WHCommandQueue::execute(const WHInvokedUrlCommand& command)
{
    return dispatch(command, m_viewController ? m_viewController->commandDelegate() : nullptr).hasValue();
}

Result<void> WHCommandQueue::dispatch(const WHInvokedUrlCommand& command, WHCommandDelegate* commandDelegate)
{
    if (!command.cmdClassName() || !command.methodName()) {
        log::message(kNamesMissingError);
        return Error { static_cast<int>(CommandStatus::InvalidAction), "the call names no service or no action" };
    }
    const std::string& service = *command.cmdClassName();
    WHPlugin* plugin = commandDelegate ? commandDelegate->getCommandInstance(service) : nullptr;
    if (!plugin) {
        log::message(format(kPluginNotFoundError, service));
        return Error { static_cast<int>(CommandStatus::ClassNotFoundException),
            format("no plugin serves '%@': config.xml maps no such service, or its class does not exist", service) };
    }
    std::string actionName = format("%@:", *command.methodName());
    if (!plugin->hasAction(actionName)) {
        log::message(format(kMethodNotDefinedError, actionName, service));
        return Error { static_cast<int>(CommandStatus::InvalidAction),
            format("the plugin of '%@' has no action '%@'", service, *command.methodName()) };
    }
    plugin->invokeAction(actionName, command);
    return {};
}

} // namespace penwick
