#pragma once

#include "platform/FileSchemeResponder.h"

namespace penwick {

// Finds the file behind a whfile URL for the engine's scheme handler: through the shared file
// plugin's registry, so only files inside a registered file system are ever served. Before any
// file plugin started, nothing is.
class WHFilesystemURLProtocol final : public platform::FileSource {
public:
    static constexpr const char* kScheme = "whfile";
    std::optional<platform::ServedFile> fileForURL(const std::string& url) const override;
};

} // namespace penwick
