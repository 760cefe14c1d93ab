#include "platform/gtk/GtkPageCapture.h"

#include <webkit2/webkit2.h>

#include "base/Format.h"
#include "base/Log.h"
#include "platform/CaptureSettleScript.h"
#include "platform/gtk/GtkWebView.h"

namespace penwick::platform {
namespace {

// How long a capture waits for the start page to load at most (the web process may be slow to start).
constexpr unsigned kCaptureLoadSeconds = 60;

bool cancelled(const GError* error) { return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED); }

} // namespace

GtkPageCapture::GtkPageCapture(GtkWebView& view, LaunchOptions options, Quit quit)
    : m_view(view)
    , m_options(std::move(options))
    , m_quit(std::move(quit))
{
    m_view.setLoadFinishedHandler([this](std::optional<std::string> failure) { settle(std::move(failure)); });
    m_loadTimeout.start(kCaptureLoadSeconds * 1000, [this] {
        log::warning(format("the start page did not finish loading within %@ s", kCaptureLoadSeconds));
        m_quit(1);
    });
}

GtkPageCapture::~GtkPageCapture() { cancel(); }

void GtkPageCapture::cancel()
{
    g_cancellable_cancel(m_cancellable.get());
    m_loadTimeout.stop();
    m_settleTimeout.stop();
}

void GtkPageCapture::startPageFailed(const std::string& reason)
{
    if (m_startPageFailure)
        return;
    m_startPageFailure = reason;
    log::warning(reason);
}

void GtkPageCapture::settle(std::optional<std::string> loadFailure)
{
    if (loadFailure && !m_startPageFailure)
        startPageFailed("the start page could not be loaded: " + *loadFailure);
    if (m_settling)
        return;
    m_settling = true;
    m_loadTimeout.stop();
    m_settleTimeout.start(static_cast<unsigned>(m_options.captureTimeout * 1000), [this] {
        log::message(format("the page did not settle within %@ s; captured as it was", m_options.captureTimeout));
        writeCaptures();
    });
    webkit_web_view_call_async_javascript_function(m_view.view(), kCaptureSettleScript, -1, nullptr, nullptr, nullptr, m_cancellable.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            GUnique<GError> error;
            GRef<JSCValue> value = adopt(webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr()));
            if (cancelled(error.get()))
                return;
            // A page whose script broke the wait is captured as it is.
            static_cast<GtkPageCapture*>(data)->writeCaptures();
        },
        this);
}

void GtkPageCapture::writeCaptures()
{
    if (m_started)
        return;
    m_started = true;
    m_settleTimeout.stop();
    if (m_startPageFailure)
        m_exitCode = 1;
    m_pending = (m_options.dumpDomPath ? 1 : 0) + (m_options.screenshotPath ? 1 : 0);
    if (m_options.dumpDomPath)
        writeDom();
    if (m_options.screenshotPath)
        writeScreenshot();
}

void GtkPageCapture::writeDom()
{
    webkit_web_view_evaluate_javascript(m_view.view(), "document.documentElement.outerHTML", -1, nullptr, nullptr, m_cancellable.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            GUnique<GError> error;
            GRef<JSCValue> value = adopt(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr()));
            if (cancelled(error.get()))
                return;
            auto& self = *static_cast<GtkPageCapture*>(data);
            if (!value) {
                log::warning(format("could not read the page: %@", error ? error->message : ""));
                self.captureDone(false);
                return;
            }
            GUnique<char> html(jsc_value_to_string(value.get()));
            const std::string& path = *self.m_options.dumpDomPath;
            if (!g_file_set_contents(path.c_str(), html.get(), -1, &error.outPtr())) {
                log::warning(format("could not write %@: %@", path, error->message));
                self.captureDone(false);
                return;
            }
            self.captureDone(true);
        },
        this);
}

void GtkPageCapture::writeScreenshot()
{
    webkit_web_view_get_snapshot(m_view.view(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, m_cancellable.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            GUnique<GError> error;
            cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error.outPtr());
            if (cancelled(error.get()))
                return;
            auto& self = *static_cast<GtkPageCapture*>(data);
            if (!surface) {
                log::warning(format("screenshot failed: %@", error ? error->message : ""));
                self.captureDone(false);
                return;
            }
            const std::string& path = *self.m_options.screenshotPath;
            // Encoded in memory and written beside the file, then renamed over it: a full disk
            // leaves a capture of an earlier run whole rather than cut short.
            std::string png;
            cairo_status_t status = cairo_surface_write_to_png_stream(surface,
                +[](void* closure, const unsigned char* data, unsigned int length) {
                    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
                    return CAIRO_STATUS_SUCCESS;
                },
                &png);
            cairo_surface_destroy(surface);
            if (status != CAIRO_STATUS_SUCCESS
                || !g_file_set_contents_full(path.c_str(), png.data(), static_cast<gssize>(png.size()), G_FILE_SET_CONTENTS_CONSISTENT, 0666,
                    &error.outPtr())) {
                log::warning(format("could not write %@: %@", path, error ? error->message : cairo_status_to_string(status)));
                self.captureDone(false);
                return;
            }
            self.captureDone(true);
        },
        this);
}

void GtkPageCapture::captureDone(bool ok)
{
    if (!ok)
        m_exitCode = 1;
    if (--m_pending == 0)
        m_quit(m_exitCode);
}

} // namespace penwick::platform
