#include "platform/gtk/GtkMainWindow.h"

#include <cstdio>

#include "base/GRef.h"
#include "base/Log.h"
#include "platform/glib/MainLoopTimer.h"
#include "platform/gtk/GtkModalDialogs.h"
#include "platform/gtk/GtkWindowFrame.h"

namespace penwick::platform {
namespace {

// A drag or a resize is a burst of configure events: the change is reported once it rests.
constexpr unsigned kFrameSettleMilliseconds = 500;

class FrameChanges final : public Registration {
public:
    FrameChanges(GtkWindow* window, std::function<void()> changed)
        : m_changed(std::move(changed))
    {
        auto onEvent = +[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
            static_cast<FrameChanges*>(self)->schedule();
            return FALSE;
        };
        m_configure = SignalConnection(window, g_signal_connect(window, "configure-event", G_CALLBACK(onEvent), this));
        m_state = SignalConnection(window, g_signal_connect(window, "window-state-event", G_CALLBACK(onEvent), this));
    }

private:
    void schedule() { m_settle.start(kFrameSettleMilliseconds, [this] { m_changed(); }); }

    std::function<void()> m_changed;
    SignalConnection m_configure;
    SignalConnection m_state;
    MainLoopTimer m_settle;
};

} // namespace

GtkMainWindow::GtkMainWindow(GtkApplication* application, const std::string& title, int width, int height)
{
    m_window = GTK_WINDOW(gtk_application_window_new(application));
    g_object_ref(m_window);
    gtk_window_set_title(m_window, title.c_str());
    gtk_window_set_default_size(m_window, width, height);
    // A first window starts in the middle of the work area of the monitor with the pointer, its
    // title bar inside it; a kept or configured frame moves it, and a window manager may place it.
    gtk_window_set_position(m_window, GTK_WIN_POS_CENTER);
    gtk_widget_set_name(GTK_WIDGET(m_window), "penwick-main-window");
    // The desktop shows the icon installed under the application id.
    gtk_window_set_icon_name(m_window, g_application_get_application_id(G_APPLICATION(application)));
    // The window can always become the key window, also without a title bar.
    gtk_window_set_accept_focus(m_window, TRUE);
    m_content = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(m_content), GTK_SHADOW_NONE);
    gtk_container_add(GTK_CONTAINER(m_window), m_content);
    gtk_widget_show(m_content);
    m_frame = std::make_unique<GtkWindowFrame>(m_window);
    // Another program destroyed the window (a window manager's kill, `xdotool windowclose`). GTK
    // would destroy the widgets with it, the web view too, also while the view's page waits in a
    // dialog whose return then finds the view gone. The host ends the normal way instead: open
    // dialogs end unanswered, then the application quits.
    g_signal_connect(m_window, "destroy-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
        log::message("the window was destroyed by another program; ending");
        GtkModalDialogs::endAll();
        if (GApplication* application = g_application_get_default())
            g_application_quit(application);
        return TRUE;
    }), nullptr);
}

GtkMainWindow::~GtkMainWindow()
{
    m_frame.reset();
    if (m_css)
        g_object_unref(m_css);
    gtk_widget_destroy(GTK_WIDGET(m_window));
    g_object_unref(m_window);
}

void GtkMainWindow::setBackgroundColor(Rgba color)
{
    if (!m_css) {
        m_css = gtk_css_provider_new();
        gtk_style_context_add_provider(gtk_widget_get_style_context(GTK_WIDGET(m_window)),
            GTK_STYLE_PROVIDER(m_css), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    // The alpha with a decimal point whatever the user's locale: CSS takes no decimal comma.
    char alpha[G_ASCII_DTOSTR_BUF_SIZE];
    g_ascii_formatd(alpha, sizeof alpha, "%.3f", color.a);
    char css[160];
    std::snprintf(css, sizeof css, "#penwick-main-window { background-color: rgba(%d,%d,%d,%s); }", static_cast<int>(color.r * 255),
        static_cast<int>(color.g * 255), static_cast<int>(color.b * 255), alpha);
    gtk_css_provider_load_from_data(m_css, css, -1, nullptr);
}

void GtkMainWindow::showAndMakeKey()
{
    gtk_widget_show(GTK_WIDGET(m_window));
    gtk_window_present(m_window);
}

void GtkMainWindow::activateApplication()
{
    gtk_window_present_with_time(m_window, GDK_CURRENT_TIME);
}

TitleBar GtkMainWindow::titleBar() const { return m_frame->titleBar(); }
void GtkMainWindow::setTitleBar(TitleBar titleBar) { m_frame->setTitleBar(titleBar); }
void GtkMainWindow::setLevel(WindowLevel level) { m_frame->setLevel(level); }
void GtkMainWindow::setHidesOnDeactivate(HidesOnDeactivate hides) { m_frame->setHidesOnDeactivate(hides); }
Rect GtkMainWindow::frame() const { return m_frame->frame(); }
void GtkMainWindow::setFrame(Rect frame) { m_frame->setFrame(frame); }

Maximized GtkMainWindow::maximized() const { return gtk_window_is_maximized(m_window) ? Maximized::Yes : Maximized::No; }

void GtkMainWindow::setMaximized(Maximized maximized)
{
    if (maximized == Maximized::Yes)
        gtk_window_maximize(m_window);
    else
        gtk_window_unmaximize(m_window);
}

std::unique_ptr<Registration> GtkMainWindow::onFrameChanged(std::function<void()> changed)
{
    return std::make_unique<FrameChanges>(m_window, std::move(changed));
}

} // namespace penwick::platform
