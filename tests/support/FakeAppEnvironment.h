#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/AppEnvironment.h"
#include "support/TempDir.h"

namespace penwick::test {

// An application environment over a fresh temporary folder, removed again on destruction:
//   <root>/resources    resourcePath (config.xml, www/)
//   <root>/data         applicationSupportDirectory
//   <root>/cache        cachesDirectory
//   <root>/documents    documentsDirectory
//   <root>/tmp          temporaryDirectory
class FakeAppEnvironment : public platform::AppEnvironment {
public:
    FakeAppEnvironment()
    {
        for (const char* sub : { "resources", "data", "cache", "documents", "tmp" })
            std::filesystem::create_directories(m_root + "/" + sub);
    }

    std::string bundleIdentifier() const override { return "org.penwick.Test"; }
    std::string resourcePath() const override { return m_root + "/resources"; }
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type, const std::string& subdirectory) const override
    {
        std::string path = resourcePath() + (subdirectory.empty() ? "" : "/" + subdirectory) + "/" + name + (type.empty() ? "" : "." + type);
        std::error_code ec;
        return !name.empty() && std::filesystem::exists(path, ec) ? std::optional(path) : std::nullopt;
    }
    Result<std::string> applicationSupportDirectory() const override { return directory("/data"); }
    std::string userDataPath() const override { return m_root + "/data"; }
    Result<std::string> cachesDirectory() const override { return directory("/cache"); }
    std::string documentsDirectory() const override { return m_root + "/documents"; }
    std::string temporaryDirectory() const override { return m_root + "/tmp"; }

    // Writes a file below the resources folder (folders made as needed); answers its path.
    std::string writeResource(const std::string& relativePath, const std::string& contents) const
    {
        std::filesystem::path path = std::filesystem::path(resourcePath()) / relativePath;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
        return path.string();
    }
    // Makes the two fallible directory lookups fail with `error` (or succeed again with nothing).
    void setDirectoryFailure(std::optional<Error> error) { m_directoryFailure = std::move(error); }

private:
    Result<std::string> directory(const char* sub) const
    {
        if (m_directoryFailure)
            return *m_directoryFailure;
        return m_root + sub;
    }

    const TempDir m_dir;
    const std::string m_root = m_dir.path;
    std::optional<Error> m_directoryFailure;
};

} // namespace penwick::test
