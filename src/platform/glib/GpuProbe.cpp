#include "platform/glib/GpuProbe.h"

#include <glib.h>

#include "base/GRef.h"

namespace penwick::platform {

bool machineHasGpu()
{
    if (g_file_test("/dev/nvidiactl", G_FILE_TEST_EXISTS))
        return true;
    GDir* dir = g_dir_open("/dev/dri", 0, nullptr);
    if (!dir)
        return false;
    bool found = false;
    while (const char* name = g_dir_read_name(dir))
        found = found || g_str_has_prefix(name, "renderD");
    g_dir_close(dir);
    return found;
}

} // namespace penwick::platform
