#include "base/Translate.h"

#include <glib.h>
#include <libintl.h>

namespace penwick {
namespace {
std::string& appDomain()
{
    static std::string s_domain;
    return s_domain;
}
} // namespace

void bindCatalogues(const std::string& hostLocaleDir, const std::string& appId, const std::string& appLocaleDir)
{
    bindtextdomain(kTextDomain, hostLocaleDir.c_str());
    bind_textdomain_codeset(kTextDomain, "UTF-8");
    if (appId.empty() || appId == kTextDomain || !g_file_test(appLocaleDir.c_str(), G_FILE_TEST_IS_DIR))
        return;
    appDomain() = appId;
    bindtextdomain(appId.c_str(), appLocaleDir.c_str());
    bind_textdomain_codeset(appId.c_str(), "UTF-8");
}

const char* translate(const char* text)
{
    if (!appDomain().empty()) {
        // gettext answers the very pointer it was given when the catalogue lacks the text.
        if (const char* own = g_dgettext(appDomain().c_str(), text); own != text)
            return own;
    }
    return g_dgettext(kTextDomain, text);
}

} // namespace penwick
