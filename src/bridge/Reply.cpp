#include "bridge/Reply.h"

#include <cassert>
#include <utility>

#include "base/Format.h"
#include "base/Log.h"
#include "bridge/WHCommandDelegate.h"

namespace penwick {

Reply::Reply(WHCommandDelegate& delegate, WHCallbackAddress address)
    : m_delegate(&delegate)
    , m_address(std::move(address))
    , m_state(State::Waiting)
{
}

Reply::Reply(Reply&& other) noexcept
    : m_delegate(std::exchange(other.m_delegate, nullptr))
    , m_address(std::move(other.m_address))
    , m_state(std::exchange(other.m_state, State::Done))
{
}

Reply& Reply::operator=(Reply&& other) noexcept
{
    if (this != &other) {
        finishDropped();
        m_delegate = std::exchange(other.m_delegate, nullptr);
        m_address = std::move(other.m_address);
        m_state = std::exchange(other.m_state, State::Done);
    }
    return *this;
}

Reply::~Reply() { finishDropped(); }

void Reply::finishDropped()
{
    if (m_state != State::Waiting)
        return;
    m_state = State::Done;
    // A call nobody answers leaves the page's promise waiting for ever.
    log::warning(format("the call with callback %@ was dropped unanswered", m_address.callbackId));
    assert(!"a reply was dropped unanswered");
}

void Reply::ok() { send(WHPluginResult::resultWithStatus(CommandStatus::OK)); }

void Reply::ok(Value message) { send(WHPluginResult(static_cast<std::int32_t>(CommandStatus::OK), std::move(message))); }

void Reply::fail(CommandStatus status, std::string message) { send(WHPluginResult::resultWithStatus(status, std::move(message))); }

void Reply::send(WHPluginResult result)
{
    if (!m_delegate)
        return;
    if (m_state != State::Waiting) {
        log::warning(format("a second answer to callback %@ was not sent", m_address.callbackId));
        return;
    }
    if (!result.keepCallback())
        m_state = State::Done;
    m_delegate->sendPluginResult(result, m_address);
}

void Reply::keep(WHPluginResult result)
{
    result.setKeepCallback(KeepCallback::Yes);
    send(std::move(result));
}

void Reply::none() { m_state = State::Done; }

} // namespace penwick
