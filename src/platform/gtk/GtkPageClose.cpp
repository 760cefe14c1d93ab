#include "platform/gtk/GtkPageClose.h"

#include "base/Log.h"

namespace penwick::platform {

void GtkPageClose::connect(WebKitWebView* view)
{
    m_closeSignal = SignalConnection(view, g_signal_connect(view, "close", G_CALLBACK(+[](WebKitWebView*, gpointer data) {
        auto* self = static_cast<GtkPageClose*>(data);
        self->m_state = State::None;
        self->closed();
    }),
        this));
}

void GtkPageClose::tryClose(WebKitWebView* view)
{
    if (!view) {
        closed();
        return;
    }
    // The question is up: the user answers it. A page that neither answered the last request nor
    // asked the user (its web process hangs) does not keep the app open against a second one.
    if (m_state == State::Question)
        return;
    if (m_state == State::Asked) {
        log::message("the page did not answer the request to close; closing");
        closed();
        return;
    }
    m_state = State::Asked;
    webkit_web_view_try_close(view);
}

void GtkPageClose::leavePage(GtkPageDialogs::LeavePage state)
{
    // Answered: staying keeps the app, and the next close asks again.
    m_state = state == GtkPageDialogs::LeavePage::Asked ? State::Question : State::None;
}

void GtkPageClose::closed()
{
    if (m_closed)
        m_closed();
}

} // namespace penwick::platform
