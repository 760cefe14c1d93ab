#include "platform/gtk/GtkHistoryKeys.h"

namespace penwick::platform {

bool GtkHistoryKeys::key(WebKitWebView* view, const GdkEventKey& event)
{
    auto modifiers = event.state & gtk_accelerator_get_default_mod_mask();
    bool back = event.keyval == GDK_KEY_Back || (modifiers == GDK_MOD1_MASK && (event.keyval == GDK_KEY_Left || event.keyval == GDK_KEY_KP_Left));
    bool forward = event.keyval == GDK_KEY_Forward
        || (modifiers == GDK_MOD1_MASK && (event.keyval == GDK_KEY_Right || event.keyval == GDK_KEY_KP_Right));
    if (back || forward) {
        if (back && webkit_web_view_can_go_back(view))
            webkit_web_view_go_back(view);
        if (forward && webkit_web_view_can_go_forward(view))
            webkit_web_view_go_forward(view);
        return true;
    }
    return false;
}

bool GtkHistoryKeys::button(WebKitWebView* view, const GdkEventButton& event)
{
    if (event.type != GDK_BUTTON_PRESS || (event.button != 8 && event.button != 9))
        return false;
    if (event.button == 8 && webkit_web_view_can_go_back(view))
        webkit_web_view_go_back(view);
    if (event.button == 9 && webkit_web_view_can_go_forward(view))
        webkit_web_view_go_forward(view);
    return true;
}

} // namespace penwick::platform
