#pragma once

#include "platform/AppEnvironment.h"

namespace penwick::platform {

// Application id, resource folder and the XDG folders.
class GLibAppEnvironment final : public AppEnvironment {
public:
    GLibAppEnvironment(std::string bundleIdentifier, std::string resourcePath);

    std::string bundleIdentifier() const override { return m_bundleIdentifier; }
    std::string resourcePath() const override { return m_resourcePath; }
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type,
        const std::string& subdirectory) const override;
    Result<std::string> applicationSupportDirectory() const override;
    std::string userDataPath() const override;
    Result<std::string> cachesDirectory() const override;
    std::string documentsDirectory() const override;
    std::string temporaryDirectory() const override;

private:
    std::string m_bundleIdentifier;
    std::string m_resourcePath;
};

} // namespace penwick::platform
