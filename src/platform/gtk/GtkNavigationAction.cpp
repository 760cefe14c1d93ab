#include "platform/gtk/GtkNavigationAction.h"

namespace penwick::platform {

NavigationRequest GtkNavigationAction::request(WebKitNavigationAction* action)
{
    NavigationRequest request;
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    request.url = uri ? uri : "";
    switch (webkit_navigation_action_get_navigation_type(action)) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
        request.kind = NavigationKind::Link;
        break;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
        request.kind = NavigationKind::Form;
        break;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
        request.kind = NavigationKind::BackForward;
        break;
    case WEBKIT_NAVIGATION_TYPE_RELOAD:
        request.kind = NavigationKind::Reload;
        break;
    default:
        break;
    }
    request.gesture = webkit_navigation_action_is_user_gesture(action) ? UserGesture::Yes : UserGesture::No;
    return request;
}

} // namespace penwick::platform
