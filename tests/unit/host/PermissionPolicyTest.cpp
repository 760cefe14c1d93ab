// What the engine's permission requests get: by kind, by the asking document's standing, and by
// config.xml's grants; every denial says why.
#include <gtest/gtest.h>

#include "host/WHPermissionPolicy.h"

using penwick::WHPermissionPolicy;
using penwick::platform::FrameStanding;
using penwick::platform::PermissionAnswer;
using penwick::platform::PermissionKind;

namespace {

TEST(PermissionPolicy, AppContentGetsWhatAppsNeedAndPreferencesGrantTheRest)
{
    const auto none = WHPermissionPolicy::fromSettings({ { "AllowGeolocation", "false" } });
    const auto all = WHPermissionPolicy::fromSettings({ { "AllowGeolocation", "true" }, { "AllowMediaCapture", "yes" } });
    struct Case {
        PermissionKind kind;
        const WHPermissionPolicy& policy;
        FrameStanding standing;
        const char* logLine; // "" when granted
    };
    const Case cases[] = {
        { PermissionKind::Clipboard, none, FrameStanding::AppContent, "" },
        { PermissionKind::Notifications, none, FrameStanding::AppContent, "" },
        { PermissionKind::StorageAccess, none, FrameStanding::AppContent, "" },
        { PermissionKind::PointerLock, none, FrameStanding::AppContent, "" },
        { PermissionKind::Geolocation, all, FrameStanding::AppContent, "" },
        { PermissionKind::CameraAndMicrophone, all, FrameStanding::AppContent, "" },
        { PermissionKind::ScreenCapture, all, FrameStanding::AppContent, "" },
        { PermissionKind::Geolocation, none, FrameStanding::AppContent,
            "denied geolocation to P: the preference AllowGeolocation is not set to true" },
        { PermissionKind::Camera, none, FrameStanding::AppContent, "denied the camera to P: the preference AllowMediaCapture is not set to true" },
        { PermissionKind::Microphone, none, FrameStanding::AppContent,
            "denied the microphone to P: the preference AllowMediaCapture is not set to true" },
        { PermissionKind::ScreenCapture, none, FrameStanding::AppContent,
            "denied screen capture to P: the preference AllowMediaCapture is not set to true" },
        { PermissionKind::MediaKeys, all, FrameStanding::AppContent, "denied protected media keys to P: the host does not offer it" },
        { PermissionKind::Unknown, all, FrameStanding::AppContent, "denied a permission the host does not know to P: the host does not offer it" },
        // Nothing for a document that is not the app's, whatever the preferences grant.
        { PermissionKind::Clipboard, all, FrameStanding::Other, "denied clipboard access to P: it is not the app's own content" },
        { PermissionKind::Notifications, all, FrameStanding::Other, "denied notifications to P: it is not the app's own content" },
        { PermissionKind::Geolocation, all, FrameStanding::Other, "denied geolocation to P: it is not the app's own content" },
        { PermissionKind::ScreenCapture, all, FrameStanding::Other, "denied screen capture to P: it is not the app's own content" },
    };
    for (const auto& c : cases) {
        auto decision = c.policy.decide({ c.kind, c.standing, "P" });
        SCOPED_TRACE(c.logLine);
        EXPECT_EQ(decision.answer, *c.logLine ? PermissionAnswer::Deny : PermissionAnswer::Grant);
        EXPECT_EQ(decision.logLine, c.logLine);
    }
}

} // namespace
