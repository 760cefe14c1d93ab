#pragma once

#include <sstream>
#include <string>
#include <string_view>

namespace penwick {

// Fills the system's printf-style texts ("navigating to %@", "%d") in order. "%@" and "%d" both
// take the next argument as text; "%%" is a literal percent sign. Keeping the patterns
// verbatim in the code keeps the logged texts exactly as fixed.
namespace detail {
inline void appendArg(std::string& out, const std::string& v) { out += v; }
inline void appendArg(std::string& out, std::string_view v) { out += v; }
inline void appendArg(std::string& out, const char* v) { out += v ? v : "(null)"; }
template<typename T>
void appendArg(std::string& out, const T& v)
{
    std::ostringstream s;
    s << v;
    out += s.str();
}
// Room an argument needs, so that a text is allocated once even when an argument is megabytes long.
inline size_t sizeHint(const std::string& v) { return v.size(); }
inline size_t sizeHint(std::string_view v) { return v.size(); }
template<typename T>
size_t sizeHint(const T&) { return 24; }

inline void formatInto(std::string& out, std::string_view pattern)
{
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            out += pattern[i];
        }
    }
}
template<typename First, typename... Rest>
void formatInto(std::string& out, std::string_view pattern, const First& first, const Rest&... rest)
{
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            char k = pattern[i + 1];
            if (k == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (k == '@' || k == 'd') {
                appendArg(out, first);
                formatInto(out, pattern.substr(i + 2), rest...);
                return;
            }
        }
        out += pattern[i];
    }
}
} // namespace detail

template<typename... Args>
std::string format(std::string_view pattern, const Args&... args)
{
    std::string out;
    out.reserve(pattern.size() + (size_t { 0 } + ... + detail::sizeHint(args)));
    detail::formatInto(out, pattern, args...);
    return out;
}

} // namespace penwick
