#pragma once

#include <string>

#include "bridge/WHPlugin.h"

namespace penwick {

// Opens URLs in a browser for the page. This host can only hand them to the system browser
// ("_system", and every URL of the store host); the other targets answer that they are not
// implemented. Every answer keeps the page's callback. Main thread only.
class WHInAppBrowser final : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    const std::string& className() const override;

    void open(const WHInvokedUrlCommand& command, Reply reply);
    // True when the URL's host is exactly the store host.
    static bool isSystemUrl(const std::string& url);
    void openInSystem(const std::string& url);

protected:
    const ActionTable& actions() const override;
};

} // namespace penwick
