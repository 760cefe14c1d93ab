// Test-only plugins, registered by the test build of the app.
namespace penwick::testapp {
void registerTestPlugins() { }
}
