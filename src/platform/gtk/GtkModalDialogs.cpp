#include "platform/gtk/GtkModalDialogs.h"

#include <algorithm>
#include <vector>

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

int GtkModalDialogs::run(GtkDialog* dialog)
{
    Running& state = running();
    if (state.ending)
        return GTK_RESPONSE_DELETE_EVENT;
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
