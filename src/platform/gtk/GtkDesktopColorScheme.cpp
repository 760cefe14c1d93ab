#include "platform/gtk/GtkDesktopColorScheme.h"

#include <cstring>

#include "base/Log.h"

namespace penwick::platform {
namespace {
constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalSettings = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorScheme = "color-scheme";
constexpr const char* kInterfaceSchema = "org.gnome.desktop.interface";
// A running portal answers at once; start-up does not wait long for one that hangs.
constexpr int kPortalTimeoutMs = 1000;

// The colour scheme in a portal value: ReadOne gives it plain, the older Read wraps it in one
// more variant.
std::optional<guint32> colorSchemeValue(GVariant* value)
{
    GUnique<GVariant> owned(g_variant_ref(value));
    while (g_variant_is_of_type(owned.get(), G_VARIANT_TYPE_VARIANT))
        owned.reset(g_variant_get_variant(owned.get()));
    if (!g_variant_is_of_type(owned.get(), G_VARIANT_TYPE_UINT32))
        return std::nullopt;
    return g_variant_get_uint32(owned.get());
}

// One of the portal's Settings methods on the appearance colour scheme; its value, or nothing when
// there is no portal or it does not know the setting.
std::optional<guint32> readPortal(GDBusConnection* bus, const char* method)
{
    GUnique<GError> error;
    GUnique<GVariant> reply(g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, kPortalSettings, method,
        g_variant_new("(ss)", kAppearance, kColorScheme), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        kPortalTimeoutMs, nullptr, &error.outPtr()));
    if (!reply)
        return std::nullopt;
    GUnique<GVariant> value(g_variant_get_child_value(reply.get(), 0));
    return colorSchemeValue(value.get());
}
} // namespace

GtkDesktopColorScheme::GtkDesktopColorScheme()
    : m_gtkSettings(gtk_settings_get_default())
{
    if (m_gtkSettings) {
        gboolean prefersDark = FALSE;
        g_object_get(m_gtkSettings, "gtk-application-prefer-dark-theme", &prefersDark, nullptr);
        m_themePrefersDark = prefersDark;
    }
    if (!watchPortal())
        watchSettings();
}

GtkDesktopColorScheme::~GtkDesktopColorScheme()
{
    if (m_bus && m_portalSubscription)
        g_dbus_connection_signal_unsubscribe(m_bus.get(), m_portalSubscription);
}

GtkDesktopColorScheme::Preference GtkDesktopColorScheme::fromPortal(guint32 value)
{
    switch (value) {
    case 1:
        return Preference::Dark;
    case 2:
        return Preference::Light;
    default:
        return Preference::None;
    }
}

GtkDesktopColorScheme::Preference GtkDesktopColorScheme::fromSetting(const std::string& value)
{
    if (value == "prefer-dark")
        return Preference::Dark;
    if (value == "prefer-light")
        return Preference::Light;
    return Preference::None;
}

bool GtkDesktopColorScheme::watchPortal()
{
    m_bus = adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!m_bus)
        return false;
    auto value = readPortal(m_bus.get(), "ReadOne");
    if (!value)
        value = readPortal(m_bus.get(), "Read");
    if (!value)
        return false;
    m_portalSubscription = g_dbus_connection_signal_subscribe(m_bus.get(), kPortalName, kPortalSettings, "SettingChanged",
        kPortalPath, kAppearance, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)")))
                return;
            const char* group = nullptr;
            const char* key = nullptr;
            GUnique<GVariant> value;
            g_variant_get(parameters, "(&s&sv)", &group, &key, &value.outPtr());
            if (std::strcmp(key, kColorScheme) != 0)
                return;
            if (auto scheme = colorSchemeValue(value.get()))
                static_cast<GtkDesktopColorScheme*>(data)->apply(fromPortal(*scheme), "the settings portal");
        },
        this, nullptr);
    apply(fromPortal(*value), "the settings portal");
    return true;
}

void GtkDesktopColorScheme::watchSettings()
{
    // Only where the schema is installed: GSettings aborts the process on an unknown schema.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, kInterfaceSchema, TRUE) : nullptr;
    if (!schema)
        return;
    bool hasKey = g_settings_schema_has_key(schema, kColorScheme);
    if (hasKey)
        m_settings = adopt(g_settings_new_full(schema, nullptr, nullptr));
    g_settings_schema_unref(schema);
    if (!m_settings)
        return;
    m_settingsChanged = SignalConnection(m_settings.get(),
        g_signal_connect(m_settings.get(), "changed::color-scheme", G_CALLBACK(+[](GSettings*, const char*, gpointer data) {
            static_cast<GtkDesktopColorScheme*>(data)->applySetting();
        }),
            this));
    applySetting();
}

void GtkDesktopColorScheme::applySetting()
{
    GUnique<char> value(g_settings_get_string(m_settings.get(), kColorScheme));
    apply(fromSetting(value.get()), "the desktop's interface settings");
}

void GtkDesktopColorScheme::apply(Preference preference, const char* source)
{
    if (m_applied == preference || !m_gtkSettings)
        return;
    bool first = !m_applied;
    m_applied = preference;
    // Without a preference of the desktop's, the theme's own choice stands.
    bool dark = preference == Preference::None ? m_themePrefersDark : preference == Preference::Dark;
    // Any set, even of the value it already holds, makes GTK load its whole theme again: tens of
    // milliseconds of start-up for nothing.
    gboolean current = FALSE;
    g_object_get(m_gtkSettings, "gtk-application-prefer-dark-theme", &current, nullptr);
    if (static_cast<bool>(current) != dark)
        g_object_set(m_gtkSettings, "gtk-application-prefer-dark-theme", dark, nullptr);
    if (!first || preference != Preference::None)
        log::message(std::string(dark ? "dark" : "light") + " style, from " + source);
}

} // namespace penwick::platform
