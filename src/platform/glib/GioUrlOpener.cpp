#include "platform/glib/GioUrlOpener.h"

#include <gio/gio.h>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"

namespace penwick::platform {
namespace {

// What the desktop starts (a browser, a mail program) gets the user's temporary folder, not the one
// the engine's processes use, which goes with the host.
GRef<GAppLaunchContext> launchContext()
{
    GRef<GAppLaunchContext> context = adopt(g_app_launch_context_new());
    g_app_launch_context_setenv(context.get(), "TMPDIR", g_get_tmp_dir());
    return context;
}

} // namespace

void GioUrlOpener::openURL(const std::string& url)
{
    // The last guard before the desktop's handlers, whoever the caller is.
    if (auto why = refusal(url)) {
        log::warning(format("refused to open %@: %@", log::withoutQueryValues(url), *why));
        return;
    }
    std::string handed = handedOver(url);
    if (handed.size() != url.size())
        log::message(format("left fields out of %@ that a mail program may not be handed", log::withoutQueryValues(url)));
    GUnique<GError> error;
    if (!g_app_info_launch_default_for_uri(handed.c_str(), launchContext().get(), &error.outPtr()))
        log::warning(format("could not open %@: %@", log::withoutQueryValues(handed), error ? error->message : "no handler"));
}

void GioUrlOpener::openHostFile(const std::string& path)
{
    GRef<GFile> file = adopt(g_file_new_for_path(path.c_str()));
    GUnique<char> uri(g_file_get_uri(file.get()));
    GUnique<GError> error;
    if (!g_file_query_exists(file.get(), nullptr))
        log::warning(format("could not open %@: the file is not there", path));
    else if (!g_app_info_launch_default_for_uri(uri.get(), launchContext().get(), &error.outPtr()))
        log::warning(format("could not open %@: %@", path, error ? error->message : "no handler"));
}

} // namespace penwick::platform
