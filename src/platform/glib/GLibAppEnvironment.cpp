#include "platform/glib/GLibAppEnvironment.h"

#include <cerrno>
#include <cstring>
#include <glib.h>
#include <glib/gstdio.h>

namespace penwick::platform {
namespace {
Result<std::string> ensureDirectory(const char* path)
{
    if (!path || !*path)
        return Error { ENOENT, "no such directory" };
    if (g_mkdir_with_parents(path, 0700) != 0) {
        int code = errno;
        return Error { code, std::string(path) + ": " + std::strerror(code) };
    }
    return std::string(path);
}
} // namespace

GLibAppEnvironment::GLibAppEnvironment(std::string bundleIdentifier, std::string resourcePath)
    : m_bundleIdentifier(std::move(bundleIdentifier))
    , m_resourcePath(std::move(resourcePath))
{
}

std::optional<std::string> GLibAppEnvironment::pathForResource(const std::string& name, const std::string& type,
    const std::string& subdirectory) const
{
    if (name.empty())
        return std::nullopt;
    std::string path = m_resourcePath;
    if (!subdirectory.empty())
        path += "/" + subdirectory;
    path += "/" + name;
    if (!type.empty())
        path += "." + type;
    if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS))
        return std::nullopt;
    return path;
}

Result<std::string> GLibAppEnvironment::applicationSupportDirectory() const
{
    return ensureDirectory(g_get_user_data_dir());
}

std::string GLibAppEnvironment::userDataPath() const { return g_get_user_data_dir(); }

Result<std::string> GLibAppEnvironment::cachesDirectory() const
{
    return ensureDirectory(g_get_user_cache_dir());
}

std::string GLibAppEnvironment::documentsDirectory() const
{
    const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    if (documents && *documents)
        return documents;
    return std::string(g_get_home_dir()) + "/Documents";
}

std::string GLibAppEnvironment::temporaryDirectory() const { return g_get_tmp_dir(); }

} // namespace penwick::platform
