#include "platform/gtk/GtkDropTracker.h"

#include <algorithm>

namespace penwick::platform {

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
                    urls.emplace_back(*uri);
                GUnique<char> text(reinterpret_cast<char*>(gtk_selection_data_get_text(data)));
                if (text)
                    urls.emplace_back(g_strstrip(text.get()));
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
    if (std::find(m_dropped.begin(), m_dropped.end(), url) == m_dropped.end())
        return false;
    m_dropped.clear();
    return true;
}

} // namespace penwick::platform
