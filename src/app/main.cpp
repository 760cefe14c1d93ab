#include "platform/gtk/GtkApplicationHost.h"

#ifdef PENWICK_TEST_PLUGINS
namespace penwick::testapp {
void registerTestPlugins();
}
#endif

int main(int argc, char** argv)
{
#ifdef PENWICK_TEST_PLUGINS
    penwick::testapp::registerTestPlugins();
#endif
    // The application's identity comes from its build target (cmake/PenwickApp.cmake).
    const penwick::platform::AppIdentity identity {
        .id = PENWICK_APP_ID,
        .name = PENWICK_APP_NAME,
        .version = PENWICK_APP_VERSION,
        .dataDir = PENWICK_APP_DATA_DIR,
        .webExtensionDir = PENWICK_APP_WEBEXT_DIR,
        .buildResourceDir = PENWICK_APP_BUILD_RESOURCES,
    };
    return penwick::platform::GtkApplicationHost::run(argc, argv, identity);
}
