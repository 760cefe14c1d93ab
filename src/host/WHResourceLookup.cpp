#include "host/WHResourceLookup.h"

namespace penwick {

std::optional<std::string> WHResourceLookup::pathForResource(const platform::AppEnvironment& environment,
    const std::string& wwwFolderName, const std::string& path)
{
    auto slash = path.rfind('/');
    std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string subfolder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    std::string folder = subfolder.empty() ? wwwFolderName : wwwFolderName + "/" + subfolder;
    return environment.pathForResource(fileName, "", folder);
}

} // namespace penwick
