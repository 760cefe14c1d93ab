#pragma once

#include "platform/UrlOpener.h"

namespace penwick::platform {

// Opens URLs with the desktop's default handler for their scheme (GIO, which goes through the
// portal inside a sandbox). A failure is logged.
class GioUrlOpener final : public UrlOpener {
public:
    void openURL(const std::string& url) override;
    void openHostFile(const std::string& path) override;
};

} // namespace penwick::platform
