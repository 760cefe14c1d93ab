#include "base/WHURL.h"
#include "base/PathComponents.h"

#include <glib.h>

namespace penwick {
namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(char c)
{
    switch (c) {
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
        return true;
    default:
        return false;
    }
}

// Characters allowed in a URL outside of escapes. "[" and "]" only belong in a host.
bool isURLChar(char c, bool inAuthority)
{
    if (isUnreserved(c) || isSubDelim(c))
        return true;
    switch (c) {
    case ':': case '/': case '?': case '#': case '@': case '%':
        return true;
    case '[': case ']':
        return inAuthority;
    default:
        return false;
    }
}

} // namespace

std::optional<WHURL> WHURL::URLWithString(std::string_view s)
{
    // Validate the characters and escapes first; the authority is the part after a leading
    // "scheme://" up to the next "/", "?" or "#".
    WHURL url;
    url.m_string = std::string(s);

    size_t pos = 0;
    // Scheme: ALPHA *(ALPHA / DIGIT / "+" / "-" / ".") ":"
    if (!s.empty() && isAlpha(s[0])) {
        size_t i = 1;
        while (i < s.size() && (isAlpha(s[i]) || isDigit(s[i]) || s[i] == '+' || s[i] == '-' || s[i] == '.'))
            ++i;
        if (i < s.size() && s[i] == ':') {
            url.m_scheme = std::string(s.substr(0, i));
            pos = i + 1;
        }
    }

    size_t authorityEnd = pos;
    if (s.substr(pos, 2) == "//") {
        size_t start = pos + 2;
        size_t end = s.find_first_of("/?#", start);
        if (end == std::string_view::npos)
            end = s.size();
        std::string_view authority = s.substr(start, end - start);
        // Host: after any "user@", before any ":port" (outside an IPv6 literal).
        size_t at = authority.rfind('@');
        std::string_view hostPort = at == std::string_view::npos ? authority : authority.substr(at + 1);
        size_t colon = hostPort.rfind(':');
        size_t bracket = hostPort.rfind(']');
        if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket))
            hostPort = hostPort.substr(0, colon);
        url.m_host = std::string(hostPort);
        authorityEnd = end;
    }

    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (!isURLChar(c, i < authorityEnd))
            return std::nullopt;
        if (c == '%') {
            if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2]))
                return std::nullopt;
        }
    }

    pos = authorityEnd;
    size_t hash = s.find('#', pos);
    std::string_view beforeFragment = s.substr(pos, hash == std::string_view::npos ? std::string_view::npos : hash - pos);
    if (hash != std::string_view::npos) {
        std::string_view fragment = s.substr(hash + 1);
        if (fragment.find('#') != std::string_view::npos)
            return std::nullopt;
        url.m_fragment = std::string(fragment);
    }
    size_t question = beforeFragment.find('?');
    url.m_rawPath = std::string(beforeFragment.substr(0, question));
    if (question != std::string_view::npos)
        url.m_query = std::string(beforeFragment.substr(question + 1));

    url.m_path = percentDecode(url.m_rawPath);
    if (url.m_path && url.m_path->size() > 1 && url.m_path->back() == '/')
        url.m_path->pop_back();
    return url;
}

std::vector<std::string> WHURL::pathComponents() const
{
    std::vector<std::string> components;
    if (!m_path || m_path->empty())
        return components;
    if (m_path->front() == '/')
        components.emplace_back("/");
    for (auto& name : penwick::pathComponents(*m_path))
        components.push_back(std::move(name));
    return components;
}

WHURL WHURL::URLByDeletingLastPathComponent() const
{
    std::string path = m_rawPath;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);

    std::string rebuilt;
    if (m_scheme)
        rebuilt += *m_scheme + ":";
    if (m_host) {
        // Keep the authority exactly as written.
        size_t start = m_scheme ? m_scheme->size() + 1 : 0;
        size_t end = m_string.find_first_of("/?#", start + 2);
        rebuilt += m_string.substr(start, (end == std::string::npos ? m_string.size() : end) - start);
    }
    rebuilt += path;
    if (m_query)
        rebuilt += "?" + *m_query;
    if (m_fragment)
        rebuilt += "#" + *m_fragment;
    // Every piece came out of a valid URL, so the result parses.
    auto parsed = URLWithString(rebuilt);
    return parsed ? std::move(*parsed) : *this;
}

std::string WHURL::percentEscape(std::string_view text, EscapeSet set)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        bool keep = isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '/'
            || (c == '?' && set == EscapeSet::Path);
        // A quote is legal in a URL but reads badly inside one; escape it as the page expects.
        if (c == '\'')
            keep = false;
        if (keep) {
            out += c;
        } else {
            auto b = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

std::optional<std::string> WHURL::percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
                return std::nullopt;
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    if (out.find('\0') != std::string::npos || !g_utf8_validate(out.data(), static_cast<gssize>(out.size()), nullptr))
        return std::nullopt;
    return out;
}

std::string WHURL::fileURLStringWithPath(std::string_view path, Directory directory)
{
    std::string collapsed;
    collapsed.reserve(path.size() + 1);
    for (char c : path) {
        if (c == '/' && !collapsed.empty() && collapsed.back() == '/')
            continue;
        collapsed += c;
    }
    if (directory == Directory::Yes && (collapsed.empty() || collapsed.back() != '/'))
        collapsed += '/';
    return "file://" + percentEscape(collapsed, EscapeSet::FilePath);
}

} // namespace penwick
