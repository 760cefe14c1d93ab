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
    return penwick::platform::GtkApplicationHost::run(argc, argv);
}
