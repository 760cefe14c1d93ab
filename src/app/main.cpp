#include "app/Application.h"
#include "channel/ChannelProtocol.h"
#include "platform/gtk/GtkApplicationHost.h"
#include "platform/gtk/GtkCommandLine.h"

#include <csignal>

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
    if (commandLine.options->resourcesGiven) {
        std::string id = penwick::Application::applicationIdFor(commandLine.options->resourcePath, identity.id);
        // Another app run by this host (as the installed runtime runs packed apps): the host's
        // name and product pages are not that app's.
        if (id != identity.id) {
            identity.name = penwick::Application::applicationNameFor(commandLine.options->resourcePath, identity.name);
            identity.id = std::move(id);
            identity.websiteURL.clear();
            identity.documentsURL.clear();
            identity.docDir.clear();
        }
    }
    // Only the host itself has the host's documentation to open.
    if (identity.docDir.empty())
        commandLine.options->documentationPath.clear();
    // The app origin's pages get shared memory (wasm threads); no other app's web processes do.
    if (penwick::Application::usesAppOrigin(commandLine.options->resourcePath))
        penwick::platform::GtkApplicationHost::enableSharedArrayBuffer();
    penwick::platform::GtkApplicationHost host(identity);
    penwick::Application application(host, identity, std::move(*commandLine.options));
#ifdef PENWICK_TEST_PLUGINS
    penwick::testapp::registerTestPlugins(application, host);
#endif
    return application.run();
}
