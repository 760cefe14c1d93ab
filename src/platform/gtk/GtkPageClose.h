#pragma once

#include <functional>
#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "platform/glib/MainLoopTimer.h"
#include "platform/gtk/GtkPageDialogs.h"

namespace penwick::platform {

// Closing asks the page first (its `beforeunload`); the engine says with the view's "close" that
// the page agreed, or that it stopped waiting for the page's answer.
class GtkPageClose {
public:
    GtkPageClose() = default;
    ~GtkPageClose();
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
    void engineClosed(WebKitWebView* view);
    void pageCaughtUp();
    void closed();
    void stopWaiting();

    std::function<void()> m_closed;
    // Asked: a close was asked of the page, not answered nor put to the user yet. Late: the engine
    // closed the page without its answer; its question may still come. Question: the page's
    // leave-page question is up (LateQuestion: after the engine stopped waiting for its answer).
    // Stayed: the user kept the page, and the engine may still close it for a late answer.
    enum class State { None, Asked, Late, Question, LateQuestion, Stayed } m_state = State::None;
    // When the state was entered.
    gint64 m_since = 0;
    MainLoopTimer m_late;
    GRef<GCancellable> m_cancellable;
    SignalConnection m_closeSignal;
};

} // namespace penwick::platform
