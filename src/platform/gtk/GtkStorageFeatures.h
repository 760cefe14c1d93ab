#pragma once

#include <webkit2/webkit2.h>

namespace penwick::platform {

// The storage apps expect of a browser that the engine ships turned off: `navigator.storage`
// (estimate) and its origin-private file system with writable streams, in pages and workers (the
// engine offers a worker's streams only with access handles on). Their data lives with the app's
// other website data.
class GtkStorageFeatures {
public:
    // Before the view loads its first page; one log line for a feature this engine lacks.
    static void enable(WebKitWebView* view);
};

} // namespace penwick::platform
