#pragma once

#include <optional>
#include <string>

#include "platform/AppEnvironment.h"

namespace penwick {

// Turns a path relative to the web content folder into the absolute path of that file among the
// application's resources. The last "/"-separated part is the file name, matched whole (any "?"
// included); nothing is decoded or normalised.
class WHResourceLookup {
public:
    static std::optional<std::string> pathForResource(const platform::AppEnvironment& environment,
        const std::string& wwwFolderName, const std::string& path);
};

} // namespace penwick
