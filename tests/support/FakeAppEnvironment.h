#pragma once

#include <optional>
#include <string>

#include "platform/AppEnvironment.h"

namespace penwick::test {

// An application environment over a fresh temporary folder, removed again on destruction:
//   <root>/resources    resourcePath (config.xml, www/)
//   <root>/data         applicationSupportDirectory
//   <root>/cache        cachesDirectory
//   <root>/documents    documentsDirectory
//   <root>/tmp          temporaryDirectory
class FakeAppEnvironment : public platform::AppEnvironment {
public:
    explicit FakeAppEnvironment(std::string bundleIdentifier = "org.penwick.Test");
    ~FakeAppEnvironment() override;
    FakeAppEnvironment(const FakeAppEnvironment&) = delete;
    FakeAppEnvironment& operator=(const FakeAppEnvironment&) = delete;

    std::string bundleIdentifier() const override { return m_bundleIdentifier; }
    std::string resourcePath() const override { return m_root + "/resources"; }
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type,
        const std::string& subdirectory) const override;
    Result<std::string> applicationSupportDirectory() const override;
    Result<std::string> cachesDirectory() const override;
    std::string documentsDirectory() const override { return m_root + "/documents"; }
    std::string temporaryDirectory() const override { return m_root + "/tmp"; }

    // Writes a file below the resources folder (folders made as needed); answers its path.
    std::string writeResource(const std::string& relativePath, const std::string& contents);
    // Makes the two fallible directory lookups fail with `error` (or succeed again with nothing).
    void setDirectoryFailure(std::optional<Error> error) { m_directoryFailure = std::move(error); }

private:
    std::string m_bundleIdentifier;
    std::string m_root;
    std::optional<Error> m_directoryFailure;
};

} // namespace penwick::test
