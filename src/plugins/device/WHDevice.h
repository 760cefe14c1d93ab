#pragma once

#include <string>

#include "bridge/WHPlugin.h"

namespace penwick {

// What machine and system the page runs on, with an identifier of this application on this
// machine that survives restarts ("WHUUID" in the user defaults). Main thread only.
class WHDevice final : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    const std::string& className() const override;

    static constexpr const char* kUUIDKey = "WHUUID";
    // "4.0.0".
    static std::string webhostVersion();

    // Answers the device-properties dictionary, always with status 1.
    void getDeviceInfo(const WHInvokedUrlCommand& command, Reply reply);
    // The stored identifier, made and stored (written at once) on first need.
    std::string uniqueAppInstanceIdentifier();

protected:
    const ActionTable& actions() const override;
};

} // namespace penwick
