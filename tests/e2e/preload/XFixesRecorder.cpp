// Preloaded into the app by the display tests: X offers no query of whether the pointer is
// hidden, so the hide and show requests are written to stderr as they leave the process, then
// passed on unchanged.
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <unistd.h>

namespace {
void record(const char* line, unsigned long length)
{
    ssize_t written = write(STDERR_FILENO, line, length);
    (void)written;
}
} // namespace

extern "C" void XFixesHideCursor(Display* display, Window window)
{
    static auto* next = reinterpret_cast<void (*)(Display*, Window)>(dlsym(RTLD_NEXT, "XFixesHideCursor"));
    record("penwick-test: XFixesHideCursor\n", 31);
    next(display, window);
}

extern "C" void XFixesShowCursor(Display* display, Window window)
{
    static auto* next = reinterpret_cast<void (*)(Display*, Window)>(dlsym(RTLD_NEXT, "XFixesShowCursor"));
    record("penwick-test: XFixesShowCursor\n", 31);
    next(display, window);
}
