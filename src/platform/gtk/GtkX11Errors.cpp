#include "platform/gtk/GtkX11Errors.h"

#include <gdk/gdkx.h>

namespace penwick::platform {
namespace {

XErrorHandler& gdkHandler()
{
    static XErrorHandler s_handler = nullptr;
    return s_handler;
}

int onError(Display* display, XErrorEvent* error)
{
    if (error->error_code == BadWindow || error->error_code == BadDrawable)
        return 0;
    return gdkHandler() ? gdkHandler()(display, error) : 0;
}

} // namespace

void GtkX11Errors::tolerateDestroyedWindows()
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display) || gdkHandler())
        return;
    gdkHandler() = XSetErrorHandler(onError);
}

} // namespace penwick::platform
