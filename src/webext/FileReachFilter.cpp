#include "webext/FileReachFilter.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/BeneathResolver.h"
#include "base/FileURLPath.h"
#include "base/Format.h"
#include "base/Log.h"

namespace penwick::webext {
namespace {

// Links are followed as the file plugin follows them: only where they stay in the folders. The
// engine opens the path again after this look, so a link swapped in between is not caught here;
// the file plugin's own actions and whfile: URLs are the race-free way to these files.
bool leadsOutOfFolders(const std::string& path, const std::vector<std::string>& folders)
{
    std::string within;
    for (const auto& folder : folders) {
        if (folder == "/")
            return false;
        if (penwick::FileURLPath::isInside(path, folder) && folder.size() > within.size())
            within = folder;
    }
    if (within.empty())
        return true;
    std::vector<std::string> roots { within };
    roots.insert(roots.end(), folders.begin(), folders.end());
    auto opened = penwick::BeneathResolver(std::move(roots)).open(path.substr(within.size()), O_PATH);
    return !opened && (opened.error().code == EXDEV || opened.error().code == ELOOP);
}

std::string withoutFragment(std::string_view url) { return std::string(url.substr(0, url.find('#'))); }

} // namespace

void FileReachFilter::install(WebKitWebExtension* extension)
{
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onMainDocument), this);
    g_signal_connect(extension, "page-created", G_CALLBACK(+[](WebKitWebExtension*, WebKitWebPage* page, gpointer self) {
        g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), self);
    }),
        this);
}

gboolean FileReachFilter::onSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer self)
{
    auto& reaches = static_cast<FileReachFilter*>(self)->m_reaches;
    const char* uri = webkit_uri_request_get_uri(request);
    auto it = reaches.find(webkit_web_page_get_id(page));
    if (!uri || it == reaches.end() || it->second.folders.empty() || g_ascii_strncasecmp(uri, "file:", 5) != 0)
        return FALSE;
    Reach& reach = it->second;
    auto path = penwick::FileURLPath::localPath(uri);
    // The document the host has just let a frame navigate to: its own checks have passed it, but
    // only a look from here sees a link in it leading out.
    if (!reach.pendingURL.empty() && withoutFragment(uri) == reach.pendingURL) {
        reach.pendingURL.clear();
        const auto& folders = reach.pendingFolders.empty() ? reach.folders : reach.pendingFolders;
        if (!path || !penwick::FileURLPath::isInsideAny(*path, folders) || !leadsOutOfFolders(*path, folders))
            return FALSE;
        penwick::log::message(penwick::format("penwick web process %@: refused to load %@: a link in it leads out of the app's folders", getpid(),
            penwick::log::withoutQueryValues(uri)));
        return TRUE;
    }
    if (path && penwick::FileURLPath::isInsideAny(*path, reach.folders)) {
        if (!leadsOutOfFolders(*path, reach.folders))
            return FALSE;
        penwick::log::message(penwick::format("penwick web process %@: refused to load %@: a link in it leads out of the app's folders", getpid(),
            penwick::log::withoutQueryValues(uri)));
        return TRUE;
    }
    penwick::log::message(penwick::format("penwick web process %@: refused to load %@: outside the app's web content folder", getpid(),
        penwick::log::withoutQueryValues(uri)));
    return TRUE;
}

// The main frame shows a new document: the reach announced for it applies from now on.
void FileReachFilter::onMainDocument(WebKitScriptWorld*, WebKitWebPage* page, WebKitFrame* frame, gpointer self)
{
    if (!webkit_frame_is_main_frame(frame))
        return;
    Reach& reach = static_cast<FileReachFilter*>(self)->m_reaches[webkit_web_page_get_id(page)];
    const char* uri = webkit_frame_get_uri(frame);
    reach.documentURL = withoutFragment(uri ? uri : "");
    if (reach.documentURL == reach.pendingURL) {
        reach.folders = reach.pendingFolders;
        reach.pendingURL.clear();
    }
}

void FileReachFilter::announced(std::uint64_t pageId, std::string_view url, std::vector<std::string> folders)
{
    Reach& reach = m_reaches[pageId];
    // Announced again once shown (the navigation may have come to this web process from another).
    if (withoutFragment(url) == reach.documentURL) {
        reach.folders = std::move(folders);
        return;
    }
    reach.pendingURL = withoutFragment(url);
    reach.pendingFolders = std::move(folders);
}

} // namespace penwick::webext
