#pragma once

#include <gtk/gtk.h>

namespace penwick::platform {

// Every modal dialog of the application runs through here, so that quitting can end them: a
// dialog runs a main loop of its own, and the application's loop cannot stop while one is open.
class GtkModalDialogs {
public:
    // gtk_dialog_run(); once the application is ending, the dialog is not shown and the answer is
    // GTK_RESPONSE_DELETE_EVENT, as when its window is closed.
    static int run(GtkDialog* dialog);
    // gtk_native_dialog_run(), ended the same way.
    static int run(GtkNativeDialog* dialog);
    // Ends every dialog that is open (answered as closed) and every one asked for later.
    static void endAll();

private:
    // While a dialog runs, GTK drops the desktop's close request for the windows under it; a page
    // that asks again and again (a loop of alerts) would keep the user from ever closing the app.
    // Such a request answers the open dialogs as closed and reaches its window.
    static void passCloseRequests(GdkEvent* event, gpointer);
};

} // namespace penwick::platform
