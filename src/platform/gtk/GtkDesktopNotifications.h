#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <webkit2/webkit2.h>

#include "base/GRef.h"

namespace penwick::platform {

// Shows the page's notifications as the desktop's, through the GApplication (so the app id names
// them). Clicking one brings the app's window forward and tells the page; a notification the page
// closes is withdrawn.
class GtkDesktopNotifications {
public:
    GtkDesktopNotifications() = default;
    ~GtkDesktopNotifications();
    GtkDesktopNotifications(const GtkDesktopNotifications&) = delete;
    GtkDesktopNotifications& operator=(const GtkDesktopNotifications&) = delete;

    void show(WebKitNotification* notification);

private:
    struct Shown {
        GRef<WebKitNotification> notification;
        SignalConnection closed;
    };
    void withdraw(std::uint64_t id);
    void clicked(std::uint64_t id);
    // The application action a click runs, added on first need.
    const std::string& clickAction(GApplication* app);

    std::map<std::uint64_t, Shown> m_shown;
    std::string m_clickAction;
};

} // namespace penwick::platform
