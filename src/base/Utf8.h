#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace penwick {

// Length of the well-formed UTF-8 sequence at the start of `s` (1 to 4), or 0 when it is
// malformed: a stray continuation byte, a truncated sequence, an overlong form, a surrogate or a
// code point above U+10FFFF.
inline size_t utf8SequenceLength(std::string_view s)
{
    if (s.empty())
        return 0;
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    auto cont = [&](size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
    unsigned char b0 = byte(0);
    if (b0 < 0x80)
        return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        return cont(1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if ((b0 == 0xE0 && byte(1) < 0xA0) || (b0 == 0xED && byte(1) > 0x9F))
            return 0;
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if ((b0 == 0xF0 && byte(1) < 0x90) || (b0 == 0xF4 && byte(1) > 0x8F))
            return 0;
        return 4;
    }
    return 0;
}

// The code point of a well-formed sequence (as utf8SequenceLength measures it) that hides or
// reorders text without being an ASCII control, or 0: C1 controls (0x9B starts a terminal
// sequence), zero-width characters and direction marks, line and paragraph separators, bidi
// embeddings, overrides and isolates, the byte order mark.
inline char32_t hiddenCodePoint(std::string_view sequence)
{
    if (sequence.size() < 2)
        return 0;
    auto byte = [&](size_t i) { return static_cast<unsigned char>(sequence[i]); };
    char32_t code = sequence.size() == 2 ? ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F)
        : sequence.size() == 3           ? ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F)
                                         : 0;
    bool hidden = (code >= 0x80 && code <= 0x9F) || (code >= 0x200B && code <= 0x200F) || (code >= 0x2028 && code <= 0x202E)
        || (code >= 0x2066 && code <= 0x2069) || code == 0xFEFF;
    return hidden ? code : 0;
}

// JSON text with each "\u" escape of a lone UTF-16 surrogate (a high one not followed by a low
// one, or a low one alone) replaced by "\ufffd", as the engine itself turns such strings into
// UTF-8; nothing when the text has none, so the common case costs one scan and no copy. Script
// engines write lone surrogates this way, and a strict JSON reader refuses them.
inline std::optional<std::string> jsonWithLoneSurrogatesReplaced(std::string_view json)
{
    auto unit = [&](size_t at) -> int { // the code unit of a "\uXXXX" escape at `at`, or -1
        if (at + 6 > json.size() || json[at] != '\\' || json[at + 1] != 'u')
            return -1;
        int value = 0;
        for (size_t i = at + 2; i < at + 6; ++i) {
            char c = json[i];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return -1;
            value = value * 16 + digit;
        }
        return value;
    };
    std::optional<std::string> out;
    size_t i = 0;
    while (i < json.size()) {
        const void* found = std::memchr(json.data() + i, '\\', json.size() - i);
        if (!found)
            break;
        i = static_cast<size_t>(static_cast<const char*>(found) - json.data());
        int code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF) {
            int next = unit(i + 6);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                i += 12;
                continue;
            }
        }
        if (code >= 0xD800 && code <= 0xDFFF) {
            if (!out)
                out.emplace(json);
            out->replace(i, 6, "\\ufffd");
            i += 6;
            continue;
        }
        // Any other escape, "\\" among them, is two characters or a whole "\uXXXX".
        i += code >= 0 ? 6 : 2;
    }
    return out;
}

} // namespace penwick
