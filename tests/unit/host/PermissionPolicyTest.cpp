// What the engine's permission requests get: by kind, by the asking document's standing, and by
// config.xml's grants; every denial says why.
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

#include "host/WHPermissionPolicy.h"

using penwick::WHPermissionPolicy;
using penwick::platform::PermissionAnswer;

TEST(PermissionPolicy, AppContentGetsWhatAppsNeedAndPreferencesGrantTheRest)
{
    using K = penwick::platform::PermissionKind;
    using S = penwick::platform::FrameStanding;
    const auto none = WHPermissionPolicy::fromSettings({ { "AllowGeolocation", "false" } });
    const auto all = WHPermissionPolicy::fromSettings({ { "AllowGeolocation", "true" }, { "AllowMediaCapture", "yes" } });
    // Geolocation denied for the preference is checked end to end with its line.
    // The kinds asked for, under which preferences, by what document, and the log line: "" when granted.
    const std::tuple<std::vector<K>, const WHPermissionPolicy&, S, std::string> cases[] = {
        { { K::Clipboard, K::Notifications, K::StorageAccess, K::PointerLock }, none, S::AppContent, "" },
        { { K::Geolocation, K::CameraAndMicrophone, K::ScreenCapture }, all, S::AppContent, "" },
        { { K::Camera }, none, S::AppContent, "denied the camera to P: the preference AllowMediaCapture is not set to true" },
        { { K::Microphone }, none, S::AppContent, "denied the microphone to P: the preference AllowMediaCapture is not set to true" },
        { { K::ScreenCapture }, none, S::AppContent, "denied screen capture to P: the preference AllowMediaCapture is not set to true" },
        { { K::MediaKeys }, all, S::AppContent, "denied protected media keys to P: the host does not offer it" },
        { { K::Unknown }, all, S::AppContent, "denied a permission the host does not know to P: the host does not offer it" },
        // Nothing for a document that is not the app's, whatever the preferences grant.
        { { K::Clipboard }, all, S::Other, "denied clipboard access to P: it is not the app's own content" },
        { { K::Notifications }, all, S::Other, "denied notifications to P: it is not the app's own content" },
        { { K::Geolocation }, all, S::Other, "denied geolocation to P: it is not the app's own content" },
        { { K::ScreenCapture }, all, S::Other, "denied screen capture to P: it is not the app's own content" },
    };
    for (const auto& [kinds, policy, standing, logLine] : cases)
        for (K kind : kinds) {
            auto decision = policy.decide({ kind, standing, "P" });
            EXPECT_EQ(std::pair(decision.answer, decision.logLine),
                std::pair(logLine.empty() ? PermissionAnswer::Grant : PermissionAnswer::Deny, logLine));
        }
}
