#pragma once

#include <string>

#include "base/Value.h"
#include "bridge/WHCallbackAddress.h"
#include "bridge/WHPluginResult.h"

namespace penwick {

class WHCommandDelegate;

// The answer to one page call, handed to the action with the call. Move-only: whoever holds it
// answers, once, with ok() or fail() (or send() for a result made elsewhere), after any number of
// keep() answers for a streamed call; or says with none() that this call gets no answer. A debug
// build asserts that no reply is dropped while its call still waits; a release build logs it.
// Usable from any thread, by one at a time; the delegate outlives every reply.
class Reply {
public:
    // Answers nobody: for calls made by the host itself.
    Reply() = default;
    Reply(WHCommandDelegate& delegate, WHCallbackAddress address);
    Reply(Reply&& other) noexcept;
    Reply& operator=(Reply&& other) noexcept;
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    ~Reply();

    // The final answer: status OK, with no message or with `message`.
    void ok();
    void ok(Value message);
    // The final answer: a failure with its status and description.
    void fail(CommandStatus status, std::string message);
    // The final answer, or a kept one when `result` says so.
    void send(WHPluginResult result);
    // One answer of a streamed call; the call stays open for more.
    void keep(WHPluginResult result);
    // This call gets no answer (the page's library settles it some other way).
    void none();

    // True until the final answer (or none()) went.
    bool waiting() const { return m_state == State::Waiting; }
    // Whom the answers reach: the script context (document) and its callback id.
    const WHCallbackAddress& address() const { return m_address; }

private:
    enum class State { Waiting, Done };
    void finishDropped();

    WHCommandDelegate* m_delegate = nullptr;
    WHCallbackAddress m_address;
    State m_state = State::Done;
};

} // namespace penwick
