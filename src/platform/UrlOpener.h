#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace penwick::platform {

// Hands a URL to the desktop, which opens it in the user's default browser or the application
// registered for its scheme. Failures are the opener's to log; the caller learns nothing.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual void openURL(const std::string& url) = 0;
    // Opens one of the host's own files (its documentation) with the desktop's application for its
    // type. Never for a path a page names. By default, as its file: URL.
    virtual void openHostFile(const std::string& path);

    // Why the desktop must not be handed `url`, or nothing when it may. Only web pages and mail go
    // out: any other scheme could run a program or read a file through the desktop's handlers.
    static std::optional<std::string> refusal(std::string_view url);
    // `url` as the desktop is handed it: a mailto: keeps only its to, cc, bcc, subject and body
    // fields; other URLs are unchanged.
    static std::string handedOver(std::string_view url);
    static constexpr std::size_t kMaxURLLength = 8 * 1024;
};

} // namespace penwick::platform
