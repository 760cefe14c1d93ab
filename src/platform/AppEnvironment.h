#pragma once

#include <optional>
#include <string>

#include "base/Result.h"

namespace penwick::platform {

// The application's identity, resources and standard folders.
class AppEnvironment {
public:
    virtual ~AppEnvironment() = default;
    // The reverse-DNS application id.
    virtual std::string bundleIdentifier() const = 0;
    // The folder holding config.xml and www/.
    virtual std::string resourcePath() const = 0;
    // The path of resource `name` (plus "." + type when type is not empty) in `subdirectory` of
    // the resources, when a file is there. Nothing is normalised.
    virtual std::optional<std::string> pathForResource(const std::string& name, const std::string& type,
        const std::string& subdirectory) const = 0;
    // The user's application-support folder ($XDG_DATA_HOME), created when missing.
    virtual Result<std::string> applicationSupportDirectory() const = 0;
    // The same folder by name, whether or not it exists or can be made.
    virtual std::string userDataPath() const = 0;
    virtual Result<std::string> cachesDirectory() const = 0;
    virtual std::string documentsDirectory() const = 0;
    virtual std::string temporaryDirectory() const = 0;
};

} // namespace penwick::platform
