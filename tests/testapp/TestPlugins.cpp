// Test-only plugins, registered by the test build of the app.
