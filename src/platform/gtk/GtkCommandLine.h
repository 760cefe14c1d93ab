#pragma once

#include <optional>
#include <string>

#include "platform/ApplicationHost.h"
#include "platform/glib/InstallLayout.h"

namespace penwick::platform {

// The host executable's command line: its options (GLib's option entries, with GTK's own), read
// once at the start of the process. Reading it also fixes where this executable's resources,
// translations and web-process extension are found. Includes no GTK header, so that the process
// entry can use it. Main thread only.
class GtkCommandLine {
public:
    // The options, or the exit status when the command line asked for no run (--version, --help)
    // or was wrong (2, logged).
    struct Parsed {
        std::optional<LaunchOptions> options;
        int exitStatus = 0;
    };
    static Parsed parse(int argc, char** argv, const AppIdentity& identity);

    // Where this executable's files are installed; none before parse().
    static const InstallLayout* installLayout();
    // Where the web-process extension lives: installed beside the executable, else the build tree.
    static std::string webExtensionDirectory();
    // The resource folder used when --resources is not given.
    static std::string defaultResourcePath();
};

} // namespace penwick::platform
