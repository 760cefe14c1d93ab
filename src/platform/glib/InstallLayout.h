#pragma once

#include <string>

namespace penwick::platform {

// Who the running application is. Each executable built with the host carries its own; the
// host's libraries know none.
struct AppIdentity {
    std::string id;      // reverse-DNS; names the user-defaults and data folders
    std::string name;    // shown in the window title and the desktop's application list
    std::string version; // the application's own version, not the host's
    // Installed locations, relative to the folder of the executable, so that an install tree
    // works wherever it is unpacked.
    std::string dataDir;
    std::string webExtensionDir;
    std::string docDir; // the host's documentation, installed with the app
    // The resource folder used when the executable runs from the build tree.
    std::string buildResourceDir;
    std::string buildDocDir;
    // The build folder of the app's executable and where the extension its host code speaks to is
    // found from there: the host's build tree, or the installed runtime for an app built against it.
    std::string buildDir;
    std::string buildWebExtensionDir;
    // The product web site's pages: the home page and the documents page opened from the menu
    // (none: no entry; the host's documentation), and the URL prefix of the login landing page.
    std::string websiteURL;
    std::string documentsURL;
    std::string loginLandingURL;
};

// Finds an application's resources and the web-process extension from where its executable is:
// beside it in an install tree, else in the build tree the executable was built in.
class InstallLayout {
public:
    struct Locations {
        std::string dataDir;              // relative to the executable's folder
        std::string webExtensionDir;      // relative to the executable's folder
        std::string buildDir;             // executables inside it may run from the build tree
        std::string buildResourceDir;
        std::string buildWebExtensionDir;
        std::string docDir = {};      // relative to the executable's folder
        std::string buildDocDir = {};
    };

    InstallLayout(std::string executablePath, Locations locations);

    // The running process's executable, symbolic links resolved; empty when it cannot be read.
    static std::string currentExecutable();

    std::string resourcePath() const;
    // `overrideDir` (the environment's choice) wins when it is set and not empty.
    std::string webExtensionDirectory(const char* overrideDir) const;
    // The folder of the host's documentation (README.md, docs/).
    std::string documentationDirectory() const;
    // The host's translations (<lang>/LC_MESSAGES/penwick.mo), installed with the app's data.
    std::string localeDirectory() const;

private:
    std::string pick(const std::string& relative, const std::string& inBuildTree) const;
    bool inBuildTree() const;

    std::string m_executableDir;
    std::string m_executablePath;
    Locations m_locations;
};

} // namespace penwick::platform
