#include "platform/gtk/GtkDesktopNotifications.h"

#include <map>
#include <string>

#include "base/Format.h"
#include "base/Log.h"

namespace penwick::platform {
namespace {

// The desktop's id of a page's notification: one with a tag replaces the earlier one of that tag.
std::string desktopIdOf(WebKitNotification* notification)
{
    const char* tag = webkit_notification_get_tag(notification);
    if (tag && *tag)
        return std::string("tag-") + tag;
    return format("notification-%@", webkit_notification_get_id(notification));
}

// The desktop's notification service is reached over the session bus, which may also have gone
// away while the app runs (GLib would complain of every call on the closed connection).
bool onSessionBus(GApplication* app)
{
    GDBusConnection* bus = app && g_application_get_is_registered(app) ? g_application_get_dbus_connection(app) : nullptr;
    return bus && !g_dbus_connection_is_closed(bus);
}

} // namespace

GtkDesktopNotifications::~GtkDesktopNotifications()
{
    GApplication* app = g_application_get_default();
    if (app && !m_clickAction.empty())
        g_action_map_remove_action(G_ACTION_MAP(app), m_clickAction.c_str());
}

const std::string& GtkDesktopNotifications::clickAction(GApplication* app)
{
    if (!m_clickAction.empty())
        return m_clickAction;
    // One action per web view: each knows only its own page's notifications.
    static unsigned s_count = 0;
    m_clickAction = format("notification-clicked-%@", ++s_count);
    auto action = adopt(g_simple_action_new(m_clickAction.c_str(), G_VARIANT_TYPE_UINT64));
    g_signal_connect(action.get(), "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* id, gpointer data) {
        static_cast<GtkDesktopNotifications*>(data)->clicked(g_variant_get_uint64(id));
    }),
        this);
    g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(action.get()));
    return m_clickAction;
}

void GtkDesktopNotifications::show(WebKitNotification* notification)
{
    GApplication* app = g_application_get_default();
    if (!onSessionBus(app)) {
        log::message("a page's notification was not shown: the app is not on a desktop session bus");
        return;
    }
    const char* title = webkit_notification_get_title(notification);
    const char* body = webkit_notification_get_body(notification);
    auto desktop = adopt(g_notification_new(title ? title : ""));
    if (body && *body)
        g_notification_set_body(desktop.get(), body);
    std::uint64_t id = webkit_notification_get_id(notification);
    g_notification_set_default_action_and_target_value(
        desktop.get(), ("app." + clickAction(app)).c_str(), g_variant_new_uint64(id));
    withdraw(id);
    // One of the same tag is replaced on the desktop; the page no longer closes it there.
    std::string desktopId = desktopIdOf(notification);
    std::erase_if(m_shown, [&](const auto& entry) { return desktopIdOf(entry.second.notification.get()) == desktopId; });
    Shown& shown = m_shown[id];
    shown.notification = GRef<WebKitNotification>(notification);
    shown.closed = SignalConnection(notification,
        g_signal_connect(notification, "closed", G_CALLBACK(+[](WebKitNotification* closed, gpointer data) {
            static_cast<GtkDesktopNotifications*>(data)->withdraw(webkit_notification_get_id(closed));
        }),
            this));
    g_application_send_notification(app, desktopId.c_str(), desktop.get());
}

void GtkDesktopNotifications::clicked(std::uint64_t id)
{
    // Activation presents the app's window.
    if (GApplication* app = g_application_get_default())
        g_application_activate(app);
    auto it = m_shown.find(id);
    if (it != m_shown.end())
        webkit_notification_clicked(it->second.notification.get());
}

void GtkDesktopNotifications::withdraw(std::uint64_t id)
{
    auto it = m_shown.find(id);
    if (it == m_shown.end())
        return;
    if (GApplication* app = g_application_get_default(); onSessionBus(app))
        g_application_withdraw_notification(app, desktopIdOf(it->second.notification.get()).c_str());
    m_shown.erase(it);
}

} // namespace penwick::platform
