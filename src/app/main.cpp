#include "app/Application.h"
#include "channel/ChannelProtocol.h"
#include "platform/gtk/GtkApplicationHost.h"
#include "platform/gtk/GtkCommandLine.h"

#include <csignal>
#include <cstdio>

#include "BuildConfig.h"
#include "base/Format.h"
#include "base/Log.h"

#ifdef PENWICK_TEST_PLUGINS
namespace penwick::testapp {
void registerTestPlugins(penwick::Application& application, penwick::platform::GtkApplicationHost& host);
}
#endif

int main(int argc, char** argv)
{
    // A write past the user's file size limit (ulimit -f) fails with EFBIG, answered to the page,
    // instead of killing the app.
    std::signal(SIGXFSZ, SIG_IGN);
    penwick::channel::keepFrameBuffersInHeap();
    // The application's identity comes from its build target (cmake/PenwickApp.cmake).
    penwick::platform::AppIdentity identity {
        .id = PENWICK_APP_ID,
        .name = PENWICK_APP_NAME,
        .version = PENWICK_APP_VERSION,
        .dataDir = PENWICK_APP_DATA_DIR,
        .webExtensionDir = PENWICK_APP_WEBEXT_DIR,
        .docDir = PENWICK_APP_DOC_DIR,
        .buildResourceDir = PENWICK_APP_BUILD_RESOURCES,
        .buildDocDir = PENWICK_APP_BUILD_DOC_DIR,
        .buildDir = PENWICK_APP_BUILD_DIR,
        .buildWebExtensionDir = PENWICK_APP_BUILD_WEBEXT_DIR,
        .websiteURL = PENWICK_APP_WEBSITE_URL,
        .documentsURL = PENWICK_APP_DOCUMENTS_URL,
        .loginLandingURL = PENWICK_APP_LOGIN_LANDING_URL,
    };
    auto commandLine = penwick::platform::GtkCommandLine::parse(argc, argv, identity);
    if (!commandLine.options)
        return commandLine.exitStatus;
    // An app run from its own folder keeps its storage, user defaults and name apart from others'.
    auto own = penwick::Application::ownConfig(commandLine.options->resourcePath, identity.id,
        commandLine.options->resourcesGiven ? penwick::Application::IdFrom::Config : penwick::Application::IdFrom::BuiltIn);
    if (commandLine.options->resourcesGiven) {
        // Under the built-in id it would share that app's data, and bring its window forward.
        if (!own.unreadable.empty()) {
            penwick::log::warning(penwick::format("not running the app in %@ as %@, whose data it would share: %@",
                commandLine.options->resourcePath, identity.id, own.unreadable));
            return 1;
        }
        // Another app run by this host (as the installed runtime runs packed apps): the host's
        // name, version and product pages are not that app's.
        if (own.id != identity.id) {
            identity.name = own.name.value_or(identity.name);
            identity.version = own.version.value_or("0.0.0");
            identity.id = own.id;
            identity.websiteURL.clear();
            identity.documentsURL.clear();
            identity.docDir.clear();
        }
    }
    if (commandLine.options->printVersion) {
        // What was asked for, on standard output: not a log line.
        std::printf("%s %s\nhost: penwick %s\n", identity.name.c_str(), identity.version.c_str(), penwick::build::kVersion);
        return 0;
    }
    // Only the host itself has the host's documentation to open.
    if (identity.docDir.empty())
        commandLine.options->documentationPath.clear();
    // The app origin's pages get shared memory (wasm threads); no other app's web processes do.
    if (own.appOrigin)
        penwick::platform::GtkApplicationHost::enableSharedArrayBuffer();
    penwick::platform::GtkApplicationHost host(identity);
    penwick::Application application(host, identity, std::move(*commandLine.options));
#ifdef PENWICK_TEST_PLUGINS
    penwick::testapp::registerTestPlugins(application, host);
#endif
    return application.run();
}
