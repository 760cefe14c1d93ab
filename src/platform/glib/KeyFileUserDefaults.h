#pragma once

#include <glib.h>
#include <string>

#include "base/GRef.h"
#include "platform/UserDefaults.h"

namespace penwick::platform {

// User defaults in one key file per application ("<config dir>/<app id>/user-defaults.ini"),
// rewritten atomically on every change. A file that cannot be read is moved aside, or else left
// alone and not written over. Main thread only.
class KeyFileUserDefaults final : public UserDefaults {
public:
    explicit KeyFileUserDefaults(std::string path);
    static std::string defaultPath(const std::string& applicationId);

    bool boolForKey(const std::string& key) const override;
    std::optional<std::string> stringForKey(const std::string& key) const override;
    Result<void> setString(const std::string& key, const std::string& value) override;
    Result<void> setBool(const std::string& key, bool value) override;

private:
    Result<void> flush();

    std::string m_path;
    GUnique<GKeyFile> m_keyFile;
    // An unreadable file that could not be moved aside: writes are refused so it is not lost.
    bool m_keptInPlace = false;
};

} // namespace penwick::platform
