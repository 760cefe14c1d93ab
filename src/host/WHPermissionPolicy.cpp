#include "host/WHPermissionPolicy.h"

#include "base/Format.h"
#include "host/WHSettingsConversions.h"

namespace penwick {
namespace {

using platform::PermissionKind;

const char* nameOf(PermissionKind kind)
{
    switch (kind) {
    case PermissionKind::Clipboard: return "clipboard access";
    case PermissionKind::Notifications: return "notifications";
    case PermissionKind::StorageAccess: return "storage access";
    case PermissionKind::PointerLock: return "pointer lock";
    case PermissionKind::Geolocation: return "geolocation";
    case PermissionKind::Camera: return "the camera";
    case PermissionKind::Microphone: return "the microphone";
    case PermissionKind::CameraAndMicrophone: return "the camera and microphone";
    case PermissionKind::ScreenCapture: return "screen capture";
    case PermissionKind::MediaDeviceList: return "the list of media devices";
    case PermissionKind::MediaKeys: return "protected media keys";
    case PermissionKind::MediaPlugins: return "installing media plugins";
    case PermissionKind::Unknown: break;
    }
    return "a permission the host does not know";
}

bool enabled(const std::map<std::string, std::string>& settings, const char* key)
{
    auto it = settings.find(key);
    return it != settings.end() && WHSettingsConversions::boolValue(it->second);
}

} // namespace

WHPermissionPolicy::WHPermissionPolicy(Geolocation geolocation, MediaCapture mediaCapture)
    : m_geolocation(geolocation)
    , m_mediaCapture(mediaCapture)
{
}

WHPermissionPolicy WHPermissionPolicy::fromSettings(const std::map<std::string, std::string>& settings)
{
    return WHPermissionPolicy(enabled(settings, kAllowGeolocationKey) ? Geolocation::Allowed : Geolocation::Denied,
        enabled(settings, kAllowMediaCaptureKey) ? MediaCapture::Allowed : MediaCapture::Denied);
}

WHPermissionPolicy::Decision WHPermissionPolicy::decide(const platform::PermissionRequest& request) const
{
    auto deny = [&](const std::string& why) {
        return Decision { platform::PermissionAnswer::Deny, format("denied %@ to %@: %@", nameOf(request.kind), request.page, why) };
    };
    if (request.standing != platform::FrameStanding::AppContent)
        return deny("it is not the app's own content");
    // Whose preference would grant it, if any.
    const char* preference = nullptr;
    switch (request.kind) {
    case PermissionKind::Clipboard:
    case PermissionKind::Notifications:
    case PermissionKind::StorageAccess:
    case PermissionKind::PointerLock:
        return Decision { platform::PermissionAnswer::Grant, {} };
    case PermissionKind::Geolocation:
        if (m_geolocation == Geolocation::Allowed)
            return Decision { platform::PermissionAnswer::Grant, {} };
        preference = kAllowGeolocationKey;
        break;
    case PermissionKind::Camera:
    case PermissionKind::Microphone:
    case PermissionKind::CameraAndMicrophone:
    case PermissionKind::ScreenCapture:
    case PermissionKind::MediaDeviceList:
        if (m_mediaCapture == MediaCapture::Allowed)
            return Decision { platform::PermissionAnswer::Grant, {} };
        preference = kAllowMediaCaptureKey;
        break;
    case PermissionKind::MediaKeys:
    case PermissionKind::MediaPlugins:
    case PermissionKind::Unknown:
        break;
    }
    if (!preference)
        return deny("the host does not offer it");
    return deny(format("the preference %@ is not set to true", preference));
}

} // namespace penwick
