#include "platform/gtk/GtkCommandLine.h"

#include <cstdio>
#include <gtk/gtk.h>
#include <vector>

#include "BuildConfig.h"
#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "platform/DevServerURL.h"

namespace penwick::platform {
namespace {

constexpr double kMaxCaptureTimeout = 3600;

// Set once, by parse(), before anything reads it.
std::optional<InstallLayout>& layout()
{
    static std::optional<InstallLayout> s_layout;
    return s_layout;
}

} // namespace

const InstallLayout* GtkCommandLine::installLayout() { return layout() ? &*layout() : nullptr; }

GtkCommandLine::Parsed GtkCommandLine::parse(int argc, char** argv, const AppIdentity& identity)
{
    std::vector<std::string> arguments(argv, argv + argc);
    layout().emplace(InstallLayout::currentExecutable(),
        InstallLayout::Locations { identity.dataDir, identity.webExtensionDir, identity.buildDir,
            identity.buildResourceDir, identity.buildWebExtensionDir, identity.docDir, identity.buildDocDir });
    char* resources = nullptr;
    char* screenshot = nullptr;
    char* dumpDom = nullptr;
    char* devURL = nullptr;
    double captureTimeout = LaunchOptions {}.captureTimeout;
    gboolean version = FALSE;
    gboolean dev = FALSE;
    GOptionEntry entries[] = {
        { "resources", 0, 0, G_OPTION_ARG_FILENAME, &resources, "Folder holding config.xml and www/", "DIR" },
        { "screenshot", 0, 0, G_OPTION_ARG_FILENAME, &screenshot, "Load the start page, write a PNG of it and exit", "FILE.png" },
        { "dump-dom", 0, 0, G_OPTION_ARG_FILENAME, &dumpDom, "Load the start page, write its HTML and exit", "FILE" },
        { "capture-timeout", 0, 0, G_OPTION_ARG_DOUBLE, &captureTimeout,
            "Seconds a capture waits for the loaded page to settle (default 10)", "S" },
        { "dev-url", 0, 0, G_OPTION_ARG_STRING, &devURL,
            "Start on this development server's page (http or https) for this run and let its origin call native code "
            "(also PENWICK_DEV_URL)", "URL" },
        { "dev", 0, 0, G_OPTION_ARG_NONE, &dev,
            "Turn on the engine's developer tools (inspector, F5 reloads) for this run (also PENWICK_DEV=1)", nullptr },
        { "version", 0, 0, G_OPTION_ARG_NONE, &version, "Print the application's and the host's version and exit", nullptr },
        { nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr },
    };
    GOptionContext* context = g_option_context_new("- host a packaged web application");
    g_option_context_add_main_entries(context, entries, nullptr);
    g_option_context_add_group(context, gtk_get_option_group(FALSE));
    GUnique<GError> error;
    bool parsed = g_option_context_parse(context, &argc, &argv, &error.outPtr());
    g_option_context_free(context);
    GUnique<char> resourcesOwner(resources), screenshotOwner(screenshot), dumpDomOwner(dumpDom), devURLOwner(devURL);
    if (!parsed) {
        log::warning(format("%@ (see --help)", std::string(error->message)));
        return { std::nullopt, 2 };
    }
    if (!(captureTimeout > 0 && captureTimeout <= kMaxCaptureTimeout)) {
        log::warning(format("--capture-timeout takes seconds above 0 and up to %@", kMaxCaptureTimeout));
        return { std::nullopt, 2 };
    }
    if (argc > 1) {
        log::warning(format("unexpected argument '%@' (see --help)", std::string(argv[1])));
        return { std::nullopt, 2 };
    }
    LaunchOptions options;
    // The option wins over the variable; an empty variable is none.
    const char* devEnv = g_getenv("PENWICK_DEV_URL");
    if (devURL || (devEnv && *devEnv)) {
        auto checked = DevServerURL::checked(devURL ? devURL : devEnv, devURL ? "--dev-url" : "PENWICK_DEV_URL");
        if (!checked) {
            log::warning(checked.error().message);
            return { std::nullopt, 2 };
        }
        options.devURL = std::move(*checked);
    }
    options.developerExtras = dev || g_strcmp0(g_getenv("PENWICK_DEV"), "1") == 0 ? DeveloperExtras::On : DeveloperExtras::Off;
    options.arguments = std::move(arguments);
    // A relative folder is taken from the working directory, where the user typed it.
    options.resourcePath = resources ? GUnique<char>(g_canonicalize_filename(resources, nullptr)).get() : defaultResourcePath();
    options.resourcesGiven = resources != nullptr;
    if (screenshot)
        options.screenshotPath = screenshot;
    if (dumpDom)
        options.dumpDomPath = dumpDom;
    options.captureTimeout = captureTimeout;
    options.printVersion = version;
    options.documentationPath = layout()->documentationDirectory() + "/README.md";
    if (!version && !g_file_test(options.resourcePath.c_str(), G_FILE_TEST_IS_DIR)) {
        log::warning(format("resource folder %@ does not exist", options.resourcePath));
        return { std::nullopt, 2 };
    }
    return { std::move(options), 0 };
}

std::string GtkCommandLine::webExtensionDirectory()
{
    const char* overrideDir = g_getenv("PENWICK_WEB_EXTENSION_DIR");
    if (!layout())
        return overrideDir && *overrideDir ? overrideDir : build::kBuildWebExtensionDir;
    return layout()->webExtensionDirectory(overrideDir);
}

std::string GtkCommandLine::defaultResourcePath() { return layout() ? layout()->resourcePath() : std::string(); }

} // namespace penwick::platform
