#include "platform/gtk/GtkModalDialogs.h"

#include <algorithm>
#include <vector>

#include "base/GRef.h"

namespace penwick::platform {
namespace {

struct Running {
    // Innermost last.
    std::vector<GtkDialog*> dialogs;
    std::vector<GtkNativeDialog*> nativeDialogs;
    bool ending = false;
};

Running& running()
{
    static Running s_running;
    return s_running;
}

} // namespace

void GtkModalDialogs::passCloseRequests(GdkEvent* event, gpointer)
{
    const Running& state = running();
    GtkWidget* widget = nullptr;
    if (event->type == GDK_DELETE && !state.dialogs.empty())
        gdk_window_get_user_data(event->any.window, reinterpret_cast<gpointer*>(&widget));
    auto* asDialog = reinterpret_cast<GtkDialog*>(widget);
    bool isDialog = std::find(state.dialogs.begin(), state.dialogs.end(), asDialog) != state.dialogs.end();
    if (!GTK_IS_WINDOW(widget) || isDialog || gtk_window_get_modal(GTK_WINDOW(widget))) {
        gtk_main_do_event(event);
        return;
    }
    // Each answer only stops that dialog's loop; the window hears the request as it would without them.
    for (GtkDialog* dialog : std::vector<GtkDialog*>(state.dialogs))
        gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
    GRef<GtkWidget> held(widget);
    if (!gtk_widget_event(widget, event))
        gtk_widget_destroy(widget);
}

int GtkModalDialogs::run(GtkDialog* dialog)
{
    Running& state = running();
    if (state.ending)
        return GTK_RESPONSE_DELETE_EVENT;
    // Set once: with no dialog open it hands every event on as GTK's own handler does.
    static const bool s_passing = (gdk_event_handler_set(passCloseRequests, nullptr, nullptr), true);
    (void)s_passing;
    state.dialogs.push_back(dialog);
    int response = gtk_dialog_run(dialog);
    state.dialogs.erase(std::find(state.dialogs.begin(), state.dialogs.end(), dialog));
    return response;
}

int GtkModalDialogs::run(GtkNativeDialog* dialog)
{
    Running& state = running();
    if (state.ending)
        return GTK_RESPONSE_DELETE_EVENT;
    state.nativeDialogs.push_back(dialog);
    int response = gtk_native_dialog_run(dialog);
    state.nativeDialogs.erase(std::find(state.nativeDialogs.begin(), state.nativeDialogs.end(), dialog));
    return response;
}

void GtkModalDialogs::endAll()
{
    Running& state = running();
    state.ending = true;
    // Each answer only stops that dialog's loop; they unwind once control returns to them.
    for (GtkDialog* dialog : std::vector<GtkDialog*>(state.dialogs))
        gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
    // Hidden, a native dialog's loop ends without an answer.
    for (GtkNativeDialog* dialog : std::vector<GtkNativeDialog*>(state.nativeDialogs))
        gtk_native_dialog_hide(dialog);
}

} // namespace penwick::platform
