#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/WHURL.h"

namespace penwick {

// A file system URL, "whfile://localhost/" + file system name + full path, in parsed form. Any
// other URL still makes a value, with `url` set and neither name nor full path. A plain value:
// never changed after construction, safe to copy to and read from any thread.
class WHFilesystemURL {
public:
    static WHFilesystemURL fileSystemURLWithString(std::string_view string);
    static WHFilesystemURL fileSystemURLWithURL(std::optional<WHURL> url);

    explicit WHFilesystemURL(std::string_view string); // initWithString
    explicit WHFilesystemURL(std::optional<WHURL> url); // initWithURL

    const std::optional<WHURL>& url() const { return m_url; }
    const std::optional<std::string>& fileSystemName() const { return m_fileSystemName; }
    // Begins with "/", or is "" for the root; percent-decoded; keeps any "?query" as written.
    const std::optional<std::string>& fullPath() const { return m_fullPath; }

    static std::optional<std::string> filesystemNameForLocalURI(const WHURL& url);
    static std::optional<std::string> fullPathForLocalURI(const WHURL& url);

    // "whfile://localhost/" + name + full path, unescaped.
    std::string absoluteURL() const;

private:
    std::optional<WHURL> m_url;
    std::optional<std::string> m_fileSystemName;
    std::optional<std::string> m_fullPath;
};

} // namespace penwick
