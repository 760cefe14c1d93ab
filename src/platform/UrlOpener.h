#pragma once

#include <string>

namespace penwick::platform {

// Hands a URL to the desktop, which opens it in the user's default browser or the application
// registered for its scheme. Failures are the opener's to log; the caller learns nothing.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual void openURL(const std::string& url) = 0;
};

} // namespace penwick::platform
