#include "app/Application.h"
#include "platform/gtk/GtkApplicationHost.h"

#ifdef PENWICK_TEST_PLUGINS
namespace penwick::testapp {
void registerTestPlugins(penwick::Application& application);
}
#endif

int main(int argc, char** argv)
{
    auto commandLine = penwick::platform::GtkApplicationHost::parseCommandLine(argc, argv);
    if (!commandLine.options)
        return commandLine.exitStatus;
    penwick::platform::GtkApplicationHost host;
    penwick::Application application(host, std::move(*commandLine.options));
#ifdef PENWICK_TEST_PLUGINS
    penwick::testapp::registerTestPlugins(application);
#endif
    return application.run();
}
