#include "platform/gtk/GtkFileReach.h"

#include "base/FileURLPath.h"
#include "channel/FileReach.h"

namespace penwick::platform {

void GtkFileReach::mainDocument(WebKitWebView* view, WebViewClient* client, const std::string& url)
{
    setFileAccess(view, client && client->allowsFileAccess(url));
    m_documentReach = foldersOf(client, url);
}

bool GtkFileReach::outsideDocumentReach(const std::string& url) const
{
    auto path = FileURLPath::localPath(url);
    return path && !m_documentReach.empty() && !FileURLPath::isInsideAny(*path, m_documentReach);
}

void GtkFileReach::setFileAccess(WebKitWebView* view, bool allowed)
{
    // The engine fixes a document's rights when it makes the document, which follows this answer;
    // the settings reach the web process before the load goes on. Universal access stays off: the
    // app's pages need their files, not web origins without their consent.
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    if (static_cast<bool>(webkit_settings_get_allow_file_access_from_file_urls(settings)) == allowed)
        return;
    webkit_settings_set_allow_file_access_from_file_urls(settings, allowed);
}

std::vector<std::string> GtkFileReach::foldersOf(WebViewClient* client, const std::string& url)
{
    if (!client || !client->allowsFileAccess(url))
        return {};
    FileReach reach = client->fileReach();
    if (reach.wholeDisk)
        return { "/" };
    std::vector<std::string> folders { FileURLPath::normalized(reach.contentFolder) };
    for (const auto& folder : reach.servedFolders)
        folders.push_back(FileURLPath::normalized(folder));
    return folders;
}

void GtkFileReach::announce(WebKitWebView* view, WebViewClient* client, const char* url)
{
    if (!url || !client)
        return;
    GVariantBuilder folders;
    g_variant_builder_init(&folders, G_VARIANT_TYPE_STRING_ARRAY);
    for (const auto& folder : foldersOf(client, url))
        g_variant_builder_add(&folders, "s", folder.c_str());
    // Sent before the answer to the navigation, so it reaches the web process ahead of the request.
    webkit_web_view_send_message_to_page(view,
        webkit_user_message_new(channel::kFileReachMessage, g_variant_new(channel::kFileReachType, url, &folders)), nullptr,
        nullptr, nullptr);
}

} // namespace penwick::platform
