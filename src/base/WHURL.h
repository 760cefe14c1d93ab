#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace penwick {

// A parsed absolute or relative URL: scheme, authority host, path, raw query and fragment, kept
// exactly as written. Only strings made of characters that may stand in a URL parse; a blank, a
// quote, a non-ASCII byte or a "%" without two hex digits makes the string no URL at all.
class WHURL {
public:
    static std::optional<WHURL> URLWithString(std::string_view string);

    const std::string& absoluteString() const { return m_string; }
    const std::optional<std::string>& scheme() const { return m_scheme; }
    // None when the URL has no authority ("//"); empty for "file:///x".
    const std::optional<std::string>& host() const { return m_host; }
    const std::optional<std::string>& query() const { return m_query; }

    // The percent-decoded path without a trailing "/" ("/" stays "/"). None when the decoded bytes
    // are not UTF-8 or hold a NUL: such a path cannot name anything on disk.
    const std::optional<std::string>& path() const { return m_path; }
    // The decoded path split at "/": "/" first for an absolute path, then the non-empty components.
    std::vector<std::string> pathComponents() const;

    // The URL with the last component of its path removed; the path keeps its trailing "/" and the
    // query stays.
    WHURL URLByDeletingLastPathComponent() const;

    enum class EscapeSet {
        Path, // keeps "/" and "?": the "?" of a full path becomes the URL's query
        FilePath, // keeps "/" only: every byte of a local path belongs to the path
    };
    static std::string percentEscape(std::string_view text, EscapeSet set);
    // None for a malformed escape, bytes that are not UTF-8, or a decoded NUL.
    static std::optional<std::string> percentDecode(std::string_view text);

    enum class Directory { No, Yes };
    // "file://" and the escaped path, with a "/" appended for a directory. Runs of "/" collapse, so
    // the root "/" and a joined "//a" give the URLs of "/" and "/a".
    static std::string fileURLStringWithPath(std::string_view path, Directory directory);

private:
    WHURL() = default;

    std::string m_string;
    std::optional<std::string> m_scheme;
    std::optional<std::string> m_host;
    std::string m_rawPath;
    std::optional<std::string> m_query;
    std::optional<std::string> m_fragment;
    std::optional<std::string> m_path;
};

} // namespace penwick
