#pragma once

#include <functional>
#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "platform/gtk/GtkPageDialogs.h"

namespace penwick::platform {

// Closing asks the page first (its `beforeunload`); the engine says with the view's "close" that
// the page agreed.
class GtkPageClose {
public:
    GtkPageClose() = default;
    GtkPageClose(const GtkPageClose&) = delete;
    GtkPageClose& operator=(const GtkPageClose&) = delete;

    // `closed` runs once the page has agreed.
    void setClosed(std::function<void()> closed) { m_closed = std::move(closed); }
    void connect(WebKitWebView* view);
    // Asks the page of `view` to close (none: closed at once).
    void tryClose(WebKitWebView* view);
    // The page's leave-page question went up, or the user answered it.
    void leavePage(GtkPageDialogs::LeavePage state);

private:
    void closed();

    std::function<void()> m_closed;
    // Asked: a close was asked of the page, not answered nor put to the user yet. Question: the
    // page's leave-page question is up.
    enum class State { None, Asked, Question } m_state = State::None;
    SignalConnection m_closeSignal;
};

} // namespace penwick::platform
