#include "bridge/WHBase64.h"

#include <array>

namespace penwick::WHBase64 {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::uint8_t, 256> makeDecodeTable()
{
    std::array<std::uint8_t, 256> t {};
    for (auto& v : t)
        v = 0xFF;
    for (int i = 0; i < 64; ++i)
        t[static_cast<std::uint8_t>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    return t;
}
constexpr auto kDecode = makeDecodeTable();
} // namespace

std::string base64EncodedString(const std::uint8_t* data, size_t size)
{
    std::string out;
    out.resize((size + 2) / 3 * 4);
    char* o = out.data();
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        std::uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (size - i == 2) {
        *o++ = kAlphabet[data[i] >> 2];
        *o++ = kAlphabet[((data[i] & 3) << 4) | (data[i + 1] >> 4)];
        *o++ = kAlphabet[(data[i + 1] & 15) << 2];
        *o++ = '=';
    } else if (size - i == 1) {
        *o++ = kAlphabet[data[i] >> 2];
        *o++ = kAlphabet[(data[i] & 3) << 4];
        *o++ = '=';
        *o++ = '=';
    }
    return out;
}

Bytes dataFromBase64String(std::string_view text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return {};
    }
    Bytes out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint8_t group[4];
    int n = 0;
    for (unsigned char c : text) {
        std::uint8_t v = kDecode[c];
        if (v == 0xFF)
            continue;
        group[n++] = v;
        if (n == 4) {
            out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
            out.push_back(static_cast<std::uint8_t>(((group[1] & 15) << 4) | (group[2] >> 2)));
            out.push_back(static_cast<std::uint8_t>(((group[2] & 3) << 6) | group[3]));
            n = 0;
        }
    }
    if (n >= 2)
        out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
    if (n >= 3)
        out.push_back(static_cast<std::uint8_t>(((group[1] & 15) << 4) | (group[2] >> 2)));
    return out;
}

std::optional<Bytes> decodeStrict(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    size_t pad = 0;
    if (!text.empty() && text.back() == '=')
        pad = (text.size() >= 2 && text[text.size() - 2] == '=') ? 2 : 1;
    for (size_t i = 0; i < text.size() - pad; ++i) {
        if (kDecode[static_cast<unsigned char>(text[i])] == 0xFF)
            return std::nullopt;
    }
    return dataFromBase64String(text);
}

} // namespace penwick::WHBase64
