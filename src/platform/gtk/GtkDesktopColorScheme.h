#pragma once

#include <gtk/gtk.h>
#include <optional>
#include <string>

#include "base/GRef.h"

namespace penwick::platform {

// Makes the dark style follow the desktop's colour-scheme preference, live: the settings portal's
// org.freedesktop.appearance color-scheme where a portal answers, else the GNOME interface
// setting where its schema is installed, else the GTK theme alone. The preference reaches pages
// through GTK's prefer-dark setting, which the engine turns into prefers-color-scheme.
class GtkDesktopColorScheme {
public:
    // Call once GTK is initialised (the application's startup).
    GtkDesktopColorScheme();
    ~GtkDesktopColorScheme();
    GtkDesktopColorScheme(const GtkDesktopColorScheme&) = delete;
    GtkDesktopColorScheme& operator=(const GtkDesktopColorScheme&) = delete;

    enum class Preference { None, Dark, Light };
    // The portal's value (0 none, 1 dark, 2 light) and the GNOME setting's ("default",
    // "prefer-dark", "prefer-light"); anything else is no preference.
    static Preference fromPortal(guint32 value);
    static Preference fromSetting(const std::string& value);

private:
    bool watchPortal();
    void watchSettings();
    void applySetting();
    void apply(Preference preference, const char* source);

    GtkSettings* m_gtkSettings = nullptr;
    // What GTK had before the desktop's preference was applied: where the desktop states none.
    bool m_themePrefersDark = false;
    std::optional<Preference> m_applied;
    GRef<GDBusConnection> m_bus;
    unsigned m_portalSubscription = 0;
    GRef<GSettings> m_settings;
    SignalConnection m_settingsChanged;
};

} // namespace penwick::platform
