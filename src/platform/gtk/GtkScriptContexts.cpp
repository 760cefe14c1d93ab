#include "platform/gtk/GtkScriptContexts.h"

#include <algorithm>
#include <exception>

#include "base/Format.h"
#include "base/Log.h"

namespace penwick::platform {
namespace {
// A page with this many live script contexts (and each doubling beyond) is worth a log line: frames
// are being made faster than they go away.
constexpr size_t kManyScriptContexts = 64;
} // namespace

void GtkScriptContexts::add(std::uint64_t contextId, Context context, std::uint64_t pageId)
{
    m_frames[context.frame] = contextId;
    m_contexts[contextId] = std::move(context);
    if (m_contexts.size() >= std::max(kManyScriptContexts, 2 * m_reported)) {
        m_reported = m_contexts.size();
        log::message(format("page %@ holds %@ live script contexts", pageId, m_reported));
    }
}

const GtkScriptContexts::Context* GtkScriptContexts::from(const channel::ChannelConnection& from, std::uint64_t contextId) const
{
    auto it = m_contexts.find(contextId);
    if (it == m_contexts.end() || it->second.connection != &from)
        return nullptr;
    return &it->second;
}

std::shared_ptr<channel::ChannelConnection> GtkScriptContexts::channelOf(std::uint64_t contextId) const
{
    auto it = m_contexts.find(contextId);
    auto connection = it == m_contexts.end() ? nullptr : it->second.channel.lock();
    return connection && connection->isOpen() ? connection : nullptr;
}

std::optional<std::uint64_t> GtkScriptContexts::appContextOf(std::uint64_t frame) const
{
    auto it = m_frames.find(frame);
    auto context = it == m_frames.end() ? m_contexts.end() : m_contexts.find(it->second);
    if (context == m_contexts.end() || !context->second.appContent)
        return std::nullopt;
    return context->first;
}

void GtkScriptContexts::forgetFrame(std::uint64_t frame)
{
    auto it = m_frames.find(frame);
    if (it == m_frames.end())
        return;
    m_contexts.erase(it->second);
    m_frames.erase(it);
}

void GtkScriptContexts::forgetIf(const std::function<bool(const Context&)>& gone)
{
    for (auto it = m_contexts.begin(); it != m_contexts.end();) {
        if (!gone(it->second)) {
            ++it;
            continue;
        }
        if (auto frame = m_frames.find(it->second.frame); frame != m_frames.end() && frame->second == it->first)
            m_frames.erase(frame);
        it = m_contexts.erase(it);
    }
}

void GtkScriptContexts::clear()
{
    m_contexts.clear();
    m_frames.clear();
}

std::vector<std::string> GtkScriptContexts::urlsBesides(std::uint64_t frame) const
{
    std::vector<std::string> urls;
    for (const auto& [contextId, context] : m_contexts)
        if (context.frame != frame)
            urls.push_back(context.url);
    return urls;
}

bool GtkScriptContexts::allAppContent() const
{
    return std::all_of(m_contexts.begin(), m_contexts.end(), [](const auto& entry) { return entry.second.appContent; });
}

void GtkScriptContexts::exec(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ExecCall&& call) const
{
    const Context* context = this->from(from, contextId);
    if (!context || !context->hostbridge) {
        log::message("ERROR: hostbridge.exec was called from a window the host no longer serves; the call was dropped.");
        return;
    }
    // The action may set up other windows meanwhile; this bridge stays alive for the call.
    std::shared_ptr<ScriptBridgeObject> bridge = context->hostbridge;
    try {
        bridge->exec(std::move(call.callbackId), std::move(call.service), std::move(call.action), std::move(call.arguments));
    } catch (const std::exception& e) {
        // A failing action must not take the host down with it; the page goes on.
        log::message(format("ERROR: the action of a page call failed: %@", e.what()));
    }
}

void GtkScriptContexts::execTooLarge(const channel::ChannelConnection& from, std::uint64_t contextId,
    const channel::ExecTooLarge& call, std::size_t limit) const
{
    auto name = [](const Value& v) { return v.is_string() ? v.get<std::string>() : std::string("(null)"); };
    log::message(format("ERROR: a call to %@.%@ carried %@ bytes, more than the page channel's limit of %@ bytes; it was refused.",
        name(call.service), name(call.action), call.size, limit));
    const Context* context = this->from(from, contextId);
    if (!context || !context->hostbridge)
        return;
    std::shared_ptr<ScriptBridgeObject> bridge = context->hostbridge;
    bridge->execRefused(call.callbackId,
        format("the call's arguments (%@ bytes) exceed the limit of %@ bytes of the host's page channel", call.size, limit));
}

void GtkScriptContexts::console(const channel::ChannelConnection& from, std::uint64_t contextId, channel::ConsoleCall&& call) const
{
    static constexpr ConsoleLevel kLevels[] = { ConsoleLevel::Log, ConsoleLevel::Trace, ConsoleLevel::Debug,
        ConsoleLevel::Info, ConsoleLevel::Warn, ConsoleLevel::Error };
    static_assert(std::size(kLevels) == std::size(penwick::channel::kConsoleLevels));
    const Context* context = this->from(from, contextId);
    if (!context || !context->console || call.level >= std::size(kLevels))
        return;
    std::shared_ptr<ScriptConsoleObject> console = context->console;
    console->call(kLevels[call.level], call.value);
}

} // namespace penwick::platform
