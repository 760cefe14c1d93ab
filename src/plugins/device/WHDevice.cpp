#include "plugins/device/WHDevice.h"

#include <algorithm>
#include <cctype>
#include <glib.h>

#include "BuildConfig.h"
#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPluginResult.h"
#include "platform/DeviceFacts.h"

namespace penwick {

const std::string& WHDevice::className() const
{
    static const std::string s_name = "WHDevice";
    return s_name;
}

const WHPlugin::ActionTable& WHDevice::actions() const
{
    static const ActionTable s_actions = ActionTable().add("getDeviceInfo:", &WHDevice::getDeviceInfo);
    return s_actions;
}

std::string WHDevice::webhostVersion() { return format("%d.%d.%d", build::kVersionMajor, build::kVersionMinor, build::kVersionPatch); }

std::string WHDevice::uniqueAppInstanceIdentifier()
{
    auto& defaults = context().userDefaults();
    if (auto stored = defaults.stringForKey(kUUIDKey); stored && !stored->empty())
        return *stored;
    GUnique<char> random(g_uuid_string_random());
    std::string uuid = random.get();
    std::transform(uuid.begin(), uuid.end(), uuid.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    // Kept for this run even when the store cannot be written; the next run then makes another.
    if (auto stored = defaults.setString(kUUIDKey, uuid); !stored)
        log::warning(format("could not store the device identifier: %@", stored.error().message));
    return uuid;
}

void WHDevice::getDeviceInfo(const WHInvokedUrlCommand&, Reply reply)
{
    ValueObject info;
    if (auto* facts = context().service<platform::DeviceFacts>()) {
        auto snapshot = facts->read();
        auto put = [&info](const char* key, const std::optional<std::string>& value) {
            if (value)
                info[key] = *value;
        };
        put("manufacturer", snapshot.manufacturer);
        put("model", snapshot.model);
        put("platform", snapshot.platform);
        put("version", snapshot.version);
        put("serial", snapshot.serial);
        info["isVirtual"] = snapshot.isVirtual;
    }
    info["uuid"] = uniqueAppInstanceIdentifier();
    info["webhost"] = webhostVersion();
    reply.send(WHPluginResult::resultWithStatusMessageAsDictionary(CommandStatus::OK, std::move(info)));
}

} // namespace penwick
