#include "platform/gtk/GtkPermissionRequests.h"

#include <string>
#include <vector>

#include "base/Format.h"
#include "base/Log.h"
#include "platform/gtk/GtkWebView.h"

namespace penwick::platform {
namespace {

PermissionKind kindOf(WebKitPermissionRequest* request)
{
    if (WEBKIT_IS_CLIPBOARD_PERMISSION_REQUEST(request))
        return PermissionKind::Clipboard;
    if (WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request))
        return PermissionKind::Notifications;
    if (WEBKIT_IS_WEBSITE_DATA_ACCESS_PERMISSION_REQUEST(request))
        return PermissionKind::StorageAccess;
    if (WEBKIT_IS_POINTER_LOCK_PERMISSION_REQUEST(request))
        return PermissionKind::PointerLock;
    if (WEBKIT_IS_GEOLOCATION_PERMISSION_REQUEST(request))
        return PermissionKind::Geolocation;
    if (WEBKIT_IS_DEVICE_INFO_PERMISSION_REQUEST(request))
        return PermissionKind::MediaDeviceList;
    if (WEBKIT_IS_MEDIA_KEY_SYSTEM_PERMISSION_REQUEST(request))
        return PermissionKind::MediaKeys;
    if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) {
        auto* media = WEBKIT_USER_MEDIA_PERMISSION_REQUEST(request);
        if (webkit_user_media_permission_is_for_display_device(media))
            return PermissionKind::ScreenCapture;
        bool audio = webkit_user_media_permission_is_for_audio_device(media);
        bool video = webkit_user_media_permission_is_for_video_device(media);
        return audio && video ? PermissionKind::CameraAndMicrophone : video ? PermissionKind::Camera : PermissionKind::Microphone;
    }
    return PermissionKind::Unknown;
}

} // namespace

GtkPermissionRequests::GtkPermissionRequests(GtkWebView& webView) : m_webView(webView)
{
    WebKitWebView* view = m_webView.view();
    m_permissionRequest = SignalConnection(view,
        g_signal_connect(view, "permission-request", G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* request, gpointer data) -> gboolean {
            static_cast<GtkPermissionRequests*>(data)->decide(request);
            return TRUE;
        }),
            this));
    m_showNotification = SignalConnection(view,
        g_signal_connect(view, "show-notification", G_CALLBACK(+[](WebKitWebView*, WebKitNotification* notification, gpointer data) -> gboolean {
            static_cast<GtkPermissionRequests*>(data)->m_notifications.show(notification);
            return TRUE;
        }),
            this));
    grantNotificationsToAppOrigins();
}

void GtkPermissionRequests::grantNotificationsToAppOrigins()
{
    WebViewClient* client = m_webView.client();
    std::vector<std::string> granted = client ? client->appDocumentOrigins() : std::vector<std::string> {};
    // The list replaces the engine context's: a view of no app pages (the popup's) leaves it alone.
    if (granted.empty())
        return;
    std::vector<WebKitSecurityOrigin*> origins;
    GList* allowed = nullptr;
    for (const auto& origin : granted) {
        origins.push_back(webkit_security_origin_new_for_uri((origin + "/").c_str()));
        allowed = g_list_append(allowed, origins.back());
    }
    webkit_web_context_initialize_notification_permissions(m_webView.context(), allowed, nullptr);
    g_list_free(allowed);
    for (auto* origin : origins)
        webkit_security_origin_unref(origin);
}

void GtkPermissionRequests::decide(WebKitPermissionRequest* request)
{
    PermissionRequest asked;
    asked.kind = kindOf(request);
    const char* uri = webkit_web_view_get_uri(m_webView.view());
    asked.page = log::withoutQueryValues(uri ? uri : "");
    asked.standing = m_webView.mainDocumentIsAppContent() ? FrameStanding::AppContent : FrameStanding::Other;
    if (asked.kind == PermissionKind::Notifications) {
        // The app's own origins were granted up front: whoever still asks is of another origin.
        asked.standing = FrameStanding::Other;
        asked.page = "a frame of another origin in " + asked.page;
    } else if (asked.kind == PermissionKind::StorageAccess) {
        // Asked by a frame of another site for its own data.
        auto* access = WEBKIT_WEBSITE_DATA_ACCESS_PERMISSION_REQUEST(request);
        const char* domain = webkit_website_data_access_permission_request_get_requesting_domain(access);
        asked.standing = FrameStanding::Other;
        asked.page = format("a frame of %@ in %@", domain ? domain : "", asked.page);
    }
    WebViewClient* client = m_webView.client();
    PermissionAnswer answer = client ? client->decidePermission(asked) : PermissionAnswer::Deny;
    if (!client)
        log::message("denied a permission request of " + asked.page + ": this view grants none");
    if (answer == PermissionAnswer::Grant)
        webkit_permission_request_allow(request);
    else
        webkit_permission_request_deny(request);
}

} // namespace penwick::platform
