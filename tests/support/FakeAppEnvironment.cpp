#include "support/FakeAppEnvironment.h"

#include <filesystem>
#include <fstream>
#include <glib.h>
#include <stdexcept>

#include "base/GRef.h"

namespace penwick::test {
namespace fs = std::filesystem;

FakeAppEnvironment::FakeAppEnvironment(std::string bundleIdentifier)
    : m_bundleIdentifier(std::move(bundleIdentifier))
{
    GUnique<GError> error;
    GUnique<char> dir(g_dir_make_tmp("penwick-test-XXXXXX", &error.outPtr()));
    if (!dir)
        throw std::runtime_error("cannot make a temporary folder: " + toError(error).message);
    m_root = dir.get();
    for (const char* sub : { "resources", "data", "cache", "documents", "tmp" })
        fs::create_directories(m_root + "/" + sub);
}

FakeAppEnvironment::~FakeAppEnvironment()
{
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

std::optional<std::string> FakeAppEnvironment::pathForResource(const std::string& name, const std::string& type,
    const std::string& subdirectory) const
{
    if (name.empty())
        return std::nullopt;
    std::string path = resourcePath();
    if (!subdirectory.empty())
        path += "/" + subdirectory;
    path += "/" + name;
    if (!type.empty())
        path += "." + type;
    std::error_code ec;
    if (!fs::exists(path, ec))
        return std::nullopt;
    return path;
}

Result<std::string> FakeAppEnvironment::applicationSupportDirectory() const
{
    if (m_directoryFailure)
        return *m_directoryFailure;
    return m_root + "/data";
}

Result<std::string> FakeAppEnvironment::cachesDirectory() const
{
    if (m_directoryFailure)
        return *m_directoryFailure;
    return m_root + "/cache";
}

std::string FakeAppEnvironment::writeResource(const std::string& relativePath, const std::string& contents)
{
    fs::path path = fs::path(resourcePath()) / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    return path.string();
}

} // namespace penwick::test
