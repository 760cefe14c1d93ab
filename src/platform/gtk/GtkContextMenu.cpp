#include "platform/gtk/GtkContextMenu.h"

#include <vector>

namespace penwick::platform {

void GtkContextMenu::trim(WebKitContextMenu* menu)
{
    // A browser's items: history, loading, other windows, downloads. They would take the app away,
    // lose what the user typed, or save what the app did not offer.
    auto browserItem = [](WebKitContextMenuAction action) {
        switch (action) {
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_GO_BACK:
        case WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD:
        case WEBKIT_CONTEXT_MENU_ACTION_STOP:
        case WEBKIT_CONTEXT_MENU_ACTION_RELOAD:
        case WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW:
        case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK:
        case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK:
            return true;
        default:
            return false;
        }
    };
    std::vector<WebKitContextMenuItem*> items;
    for (GList* item = webkit_context_menu_get_items(menu); item; item = item->next)
        items.push_back(WEBKIT_CONTEXT_MENU_ITEM(item->data));
    bool lastWasSeparator = true;
    for (auto* item : items) {
        bool separator = webkit_context_menu_item_is_separator(item);
        if (browserItem(webkit_context_menu_item_get_stock_action(item)) || (separator && lastWasSeparator)) {
            webkit_context_menu_remove(menu, item);
            continue;
        }
        lastWasSeparator = separator;
    }
    if (GList* last = g_list_last(webkit_context_menu_get_items(menu)); last && webkit_context_menu_item_is_separator(WEBKIT_CONTEXT_MENU_ITEM(last->data)))
        webkit_context_menu_remove(menu, WEBKIT_CONTEXT_MENU_ITEM(last->data));
}

} // namespace penwick::platform
