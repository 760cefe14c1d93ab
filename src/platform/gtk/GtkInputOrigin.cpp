#include "platform/gtk/GtkInputOrigin.h"

#include "channel/ChannelProtocol.h"

namespace penwick::platform {

void GtkInputOrigin::connect(WebKitWebView* view)
{
    const char* signals[] = { "button-press-event", "key-press-event", "touch-event" };
    for (std::size_t i = 0; i < std::size(signals); ++i) {
        m_input[i] = SignalConnection(view, g_signal_connect(view, signals[i], G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
            static_cast<GtkInputOrigin*>(self)->m_latestOtherSite.reset();
            return FALSE;
        }),
            this));
    }
}

bool GtkInputOrigin::heard(WebKitUserMessage* message)
{
    if (g_strcmp0(webkit_user_message_get_name(message), channel::kForeignActivationMessage) != 0)
        return false;
    m_otherSiteHadInput = true;
    GVariant* parameters = webkit_user_message_get_parameters(message);
    const char* origin = nullptr;
    if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE(channel::kForeignActivationType)))
        g_variant_get(parameters, "(&s)", &origin);
    // An origin the engine could not give ("null", a sandboxed frame's) names no site, but is still not the app.
    m_latestOtherSite = origin && g_strcmp0(origin, "null") != 0 ? origin : "";
    return true;
}

} // namespace penwick::platform
