#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/Dialogs.h"
#include "platform/glib/InstallLayout.h"

namespace penwick::platform {

// Process entry on GTK: parses the command line, runs the GtkApplication, builds the main window
// layout (window, web view, controller) and drives start-up in the host's order.
class GtkApplicationHost {
public:
    struct Options {
        std::string resourcePath;
        std::optional<std::string> screenshotPath;
        std::optional<std::string> dumpDomPath;
    };

    static int run(int argc, char** argv, const AppIdentity& identity);

    // Where the web-process extension lives: installed beside the executable, else the build tree.
    static std::string webExtensionDirectory();
    // The resource folder used when --resources is not given.
    static std::string defaultResourcePath();
    // Builds of the app for end-to-end tests answer the page's questions from a script instead of
    // real dialogs. Call before run().
    static void setDialogsForTesting(std::unique_ptr<Dialogs> dialogs);
};

} // namespace penwick::platform
