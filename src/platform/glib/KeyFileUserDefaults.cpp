#include "platform/glib/KeyFileUserDefaults.h"

#include <cerrno>
#include <glib/gstdio.h>

#include "base/Log.h"

namespace penwick::platform {
namespace {
constexpr const char* kGroup = "Defaults";
}

KeyFileUserDefaults::KeyFileUserDefaults(std::string path)
    : m_path(std::move(path))
    , m_keyFile(g_key_file_new())
{
    GUnique<GError> error;
    if (!g_key_file_load_from_file(m_keyFile.get(), m_path.c_str(), G_KEY_FILE_KEEP_COMMENTS, &error.outPtr())
        && g_file_test(m_path.c_str(), G_FILE_TEST_IS_REGULAR)) {
        // Keep the unreadable file for the user instead of overwriting it on the next write; if it
        // cannot be moved aside, nothing is written over it for the rest of the run.
        std::string aside = m_path + ".unreadable";
        std::string reason = m_path + " unreadable (" + error->message + ")";
        int renamed = g_rename(m_path.c_str(), aside.c_str());
        int renameError = errno;
        if (renamed == 0) {
            log::warning("user defaults at " + reason + "; kept as " + aside);
        } else {
            m_keptInPlace = true;
            log::warning("user defaults at " + reason + " and not moved aside (" + g_strerror(renameError)
                + "); changes are not saved");
        }
    }
}

std::string KeyFileUserDefaults::defaultPath(const std::string& applicationId)
{
    return std::string(g_get_user_config_dir()) + "/" + applicationId + "/user-defaults.ini";
}

bool KeyFileUserDefaults::boolForKey(const std::string& key) const
{
    auto value = stringForKey(key);
    if (!value)
        return false;
    return *value == "true" || *value == "TRUE" || *value == "1" || *value == "YES" || *value == "yes";
}

std::optional<std::string> KeyFileUserDefaults::stringForKey(const std::string& key) const
{
    GUnique<char> value(g_key_file_get_string(m_keyFile.get(), kGroup, key.c_str(), nullptr));
    if (!value)
        return std::nullopt;
    return std::string(value.get());
}

Result<void> KeyFileUserDefaults::setString(const std::string& key, const std::string& value)
{
    g_key_file_set_string(m_keyFile.get(), kGroup, key.c_str(), value.c_str());
    return flush();
}

Result<void> KeyFileUserDefaults::setBool(const std::string& key, bool value)
{
    g_key_file_set_string(m_keyFile.get(), kGroup, key.c_str(), value ? "true" : "false");
    return flush();
}

Result<void> KeyFileUserDefaults::flush()
{
    if (m_keptInPlace)
        return Error { EEXIST, "user defaults at " + m_path + " not saved: the unreadable file there is kept" };
    GUnique<char> dir(g_path_get_dirname(m_path.c_str()));
    g_mkdir_with_parents(dir.get(), 0700);
    GUnique<GError> error;
    // g_key_file_save_to_file writes a temporary file and renames it over the old one.
    if (!g_key_file_save_to_file(m_keyFile.get(), m_path.c_str(), &error.outPtr()))
        return toError(error);
    return {};
}

} // namespace penwick::platform
