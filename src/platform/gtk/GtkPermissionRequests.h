#pragma once

#include <webkit2/webkit2.h>

#include "base/GRef.h"
#include "platform/gtk/GtkDesktopNotifications.h"

namespace penwick::platform {

class GtkWebView;

// Answers the engine's permission requests of one web view through its client's policy, and shows
// the notifications of its pages on the desktop. The engine names no frame with a request: the
// main document's standing decides, and the engine's own frame policy keeps other-origin frames
// from asking for location, camera, microphone or the screen unless their page lets them.
// Notifications are granted to the app's own origins up front; the engine itself refuses them to a
// frame of another origin than its main page's.
class GtkPermissionRequests {
public:
    // `webView` owns this object and has made its engine view.
    explicit GtkPermissionRequests(GtkWebView& webView);
    GtkPermissionRequests(const GtkPermissionRequests&) = delete;
    GtkPermissionRequests& operator=(const GtkPermissionRequests&) = delete;

private:
    void decide(WebKitPermissionRequest* request);
    // Grants the app's own origins notifications before they ask.
    void grantNotificationsToAppOrigins();

    GtkWebView& m_webView;
    GtkDesktopNotifications m_notifications;
    SignalConnection m_permissionRequest;
    SignalConnection m_showNotification;
};

} // namespace penwick::platform
