#include "platform/gtk/GtkPageClose.h"

#include "base/Log.h"

namespace penwick::platform {

namespace {

// The engine waits about this long for the page's answer to a close, and again after the user
// answered its question, and then closes the page whatever the answer; under load a page answers
// later than that.
constexpr gint64 kEngineAnswerMicroseconds = 40'000;
// How long after the user chose to stay a "close" is taken for the engine's time-out.
constexpr gint64 kStayedMicroseconds = 3'000'000;
// How long a page the engine stopped waiting for has to catch up before the app goes: a page that
// hangs does not keep it.
constexpr guint kLateMilliseconds = 10'000;

} // namespace

GtkPageClose::~GtkPageClose() { stopWaiting(); }

void GtkPageClose::connect(WebKitWebView* view)
{
    m_closeSignal = SignalConnection(view, g_signal_connect(view, "close", G_CALLBACK(+[](WebKitWebView* view, gpointer data) {
        static_cast<GtkPageClose*>(data)->engineClosed(view);
    }),
        this));
}

void GtkPageClose::tryClose(WebKitWebView* view)
{
    log::debug("the window was asked to close");
    if (!view) {
        closed();
        return;
    }
    // The question is up: the user answers it. A page that neither answered the last request nor
    // asked the user (its web process hangs) does not keep the app open against a second one.
    if (m_state == State::Question || m_state == State::LateQuestion)
        return;
    if (m_state == State::Asked || m_state == State::Late) {
        log::message("the page did not answer the request to close; closing");
        closed();
        return;
    }
    m_state = State::Asked;
    m_since = g_get_monotonic_time();
    webkit_web_view_try_close(view);
}

void GtkPageClose::engineClosed(WebKitWebView* view)
{
    const gint64 elapsed = g_get_monotonic_time() - m_since;
    if (m_state == State::Stayed && elapsed < kStayedMicroseconds) {
        m_state = State::None;
        return;
    }
    if (m_state != State::Asked || elapsed < kEngineAnswerMicroseconds) {
        closed();
        return;
    }
    // Perhaps the engine's time-out, not the page's consent: the page's question, if it has one,
    // is still on its way. A script sent now runs after the page has dealt with the close (the
    // engine keeps the order of what it sends a page), so its result says the page is done.
    m_state = State::Late;
    m_cancellable = adopt(g_cancellable_new());
    webkit_web_view_evaluate_javascript(view, "0", -1, nullptr, nullptr, m_cancellable.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            GUnique<GError> error;
            GRef<JSCValue> value = adopt(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr()));
            if (!g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
                static_cast<GtkPageClose*>(data)->pageCaughtUp();
        },
        this);
    m_late.start(kLateMilliseconds, [this] { closed(); });
}

void GtkPageClose::pageCaughtUp()
{
    // Done with the close without putting a question: it agreed.
    if (m_state == State::Late)
        closed();
}

void GtkPageClose::leavePage(GtkPageDialogs::LeavePage state)
{
    if (state == GtkPageDialogs::LeavePage::Asked) {
        m_late.stop();
        m_state = m_state == State::Late ? State::LateQuestion : State::Question;
        return;
    }
    // Answered: staying keeps the app, and the next close asks again. After the engine's time-out
    // no "close" follows the user's "leave": the app goes here.
    const bool late = m_state == State::LateQuestion, leave = state == GtkPageDialogs::LeavePage::Leave;
    m_state = leave ? State::None : State::Stayed;
    m_since = g_get_monotonic_time();
    if (late && leave)
        closed();
}

void GtkPageClose::stopWaiting()
{
    m_late.stop();
    if (m_cancellable)
        g_cancellable_cancel(m_cancellable.get());
    m_cancellable = nullptr;
}

void GtkPageClose::closed()
{
    stopWaiting();
    m_state = State::None;
    if (m_closed)
        m_closed();
}

} // namespace penwick::platform
