#include "platform/gtk/GtkDropTracker.h"

#include <algorithm>

namespace penwick::platform {
namespace {

// `url` as far as GLib can write it as the engine does: scheme and host in lower case, no default
// port, "/" for an empty path, no dot segments, blanks escaped. A link dropped as typed
// ("HTTP://Example.com") is then still known when the engine navigates to its own form of it.
std::string engineForm(const std::string& url)
{
    constexpr auto kFlags = GUriFlags(G_URI_FLAGS_PARSE_RELAXED | G_URI_FLAGS_SCHEME_NORMALIZE | G_URI_FLAGS_ENCODED);
    GUnique<GUri> parsed(g_uri_parse(url.c_str(), kFlags, nullptr));
    if (!parsed)
        return url;
    const char* host = g_uri_get_host(parsed.get());
    GUnique<char> lowerHost(host ? g_ascii_strdown(host, -1) : nullptr);
    GUnique<GUri> built(g_uri_build(kFlags, g_uri_get_scheme(parsed.get()), g_uri_get_userinfo(parsed.get()), lowerHost.get(),
        g_uri_get_port(parsed.get()), g_uri_get_path(parsed.get()), g_uri_get_query(parsed.get()), g_uri_get_fragment(parsed.get())));
    GUnique<char> text(g_uri_to_string(built.get()));
    return text.get();
}

} // namespace

void GtkDropTracker::connect(WebKitWebView* view)
{
    // The drop's URLs arrive while the pointer moves over the view, before the drop itself.
    m_dragData = SignalConnection(view,
        g_signal_connect(view, "drag-data-received",
            G_CALLBACK(+[](GtkWidget*, GdkDragContext*, int, int, GtkSelectionData* data, unsigned, unsigned, gpointer self) {
                auto& urls = static_cast<GtkDropTracker*>(self)->m_dragged;
                urls.clear();
                GUnique<char*> uris(gtk_selection_data_get_uris(data));
                for (char** uri = uris.get(); uri && *uri; ++uri)
                    urls.push_back(engineForm(*uri));
                GUnique<char> text(reinterpret_cast<char*>(gtk_selection_data_get_text(data)));
                if (text)
                    urls.push_back(engineForm(g_strstrip(text.get())));
            }),
            this));
    m_drop = SignalConnection(view,
        g_signal_connect(view, "drag-drop", G_CALLBACK(+[](GtkWidget*, GdkDragContext*, int, int, unsigned, gpointer data) -> gboolean {
            auto* self = static_cast<GtkDropTracker*>(data);
            self->m_dropped = self->m_dragged;
            return FALSE;
        }),
            this));
}

bool GtkDropTracker::takeDropNavigation(const std::string& url)
{
    if (std::find(m_dropped.begin(), m_dropped.end(), engineForm(url)) == m_dropped.end())
        return false;
    m_dropped.clear();
    return true;
}

} // namespace penwick::platform
