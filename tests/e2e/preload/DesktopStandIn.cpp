// What a desktop does to the app that xdotool cannot: `drag URI` shows a window titled "drag
// source" at (1060, 0) that drags URI as a file manager does (text/uri-list, first button);
// `close WINDOW` asks the X window to close as a window manager's close button does.
#include <X11/Xlib.h>
#include <cstdlib>
#include <cstring>
#include <gtk/gtk.h>

namespace {

int closeWindow(const char* id)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = std::strtoul(id, nullptr, 0);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XCloseDisplay(display);
    return 0;
}

const char* s_uri = nullptr;

void dragDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint)
{
    const char* uris[] = { s_uri, nullptr };
    gtk_selection_data_set_uris(data, const_cast<char**>(uris));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "close") == 0)
        return closeWindow(argv[2]);
    if (argc != 3 || std::strcmp(argv[1], "drag") != 0)
        return 2;
    gtk_init(&argc, &argv);
    s_uri = argv[2];
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "drag source");
    gtk_window_set_default_size(GTK_WINDOW(window), 200, 200);
    gtk_window_move(GTK_WINDOW(window), 1060, 0);
    GtkWidget* box = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_drag_source_set(box, GDK_BUTTON1_MASK, nullptr, 0, GdkDragAction(GDK_ACTION_COPY | GDK_ACTION_LINK | GDK_ACTION_MOVE));
    gtk_drag_source_add_uri_targets(box);
    g_signal_connect(box, "drag-data-get", G_CALLBACK(dragDataGet), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
