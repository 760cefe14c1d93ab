#pragma once

#include <string>

namespace penwick::platform {

// What a page asks the engine for that the host must allow.
enum class PermissionKind {
    Clipboard,
    Notifications,
    StorageAccess,
    PointerLock,
    Geolocation,
    Camera,
    Microphone,
    CameraAndMicrophone,
    ScreenCapture,
    MediaDeviceList,
    MediaKeys,
    MediaPlugins,
    Unknown,
};

// Whether the document that asks is the app's own content.
enum class FrameStanding { AppContent, Other };

struct PermissionRequest {
    PermissionKind kind = PermissionKind::Unknown;
    FrameStanding standing = FrameStanding::Other;
    // The address of the page that asks, as log lines name it.
    std::string page;
};

enum class PermissionAnswer { Grant, Deny };

} // namespace penwick::platform
