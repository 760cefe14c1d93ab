#include "bridge/WHBase64.h"

#include <array>
#include <cstring>

namespace penwick::WHBase64 {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kSkip = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable()
{
    std::array<std::uint8_t, 256> t {};
    for (auto& v : t)
        v = kSkip;
    for (int i = 0; i < 64; ++i)
        t[static_cast<std::uint8_t>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    return t;
}
constexpr auto kDecode = makeDecodeTable();

// Encoding 12 bits at a time: each entry holds the two characters of one 12-bit value, in memory
// order, so a group of three bytes is two table loads and two 16-bit stores.
struct PairTable {
    std::array<char, 4096 * 2> chars {};
    constexpr PairTable()
    {
        for (int v = 0; v < 4096; ++v) {
            chars[static_cast<size_t>(v) * 2] = kAlphabet[v >> 6];
            chars[static_cast<size_t>(v) * 2 + 1] = kAlphabet[v & 63];
        }
    }
};
constexpr PairTable kPairs;

// Decoding four characters at a time: one table per position holds the character's six bits
// already shifted into place, so a group is four loads ORed together. Characters outside the
// alphabet carry bit 24, which no valid group can set.
constexpr std::uint32_t kBad = 1u << 24;
struct QuadTables {
    std::array<std::uint32_t, 256> t0 {}, t1 {}, t2 {}, t3 {};
    constexpr QuadTables()
    {
        for (int c = 0; c < 256; ++c) {
            std::uint8_t v = kDecode[static_cast<size_t>(c)];
            bool bad = v == kSkip;
            t0[static_cast<size_t>(c)] = bad ? kBad : std::uint32_t(v) << 18;
            t1[static_cast<size_t>(c)] = bad ? kBad : std::uint32_t(v) << 12;
            t2[static_cast<size_t>(c)] = bad ? kBad : std::uint32_t(v) << 6;
            t3[static_cast<size_t>(c)] = bad ? kBad : std::uint32_t(v);
        }
    }
};
constexpr QuadTables kQuad;

inline void putPair(char* out, std::uint32_t twelveBits) { std::memcpy(out, &kPairs.chars[twelveBits * 2], 2); }

inline std::uint64_t loadBigEndian64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// Decodes whole clean groups of four from the start of `in` into `out`. Stops at the first group
// holding a character outside the alphabet (padding included) or when fewer than four characters
// are left. Answers the number of characters consumed; 3/4 of that many bytes were written.
size_t decodeCleanGroups(const unsigned char* in, size_t size, std::uint8_t* out)
{
    size_t i = 0;
    // Eight characters give six bytes; write them as one 64-bit store while there is room for
    // its two extra bytes (the next groups overwrite them).
    const size_t outCapacity = size / 4 * 3;
    size_t o = 0;
    while (i + 8 <= size && o + 8 <= outCapacity) {
        std::uint32_t a = kQuad.t0[in[i]] | kQuad.t1[in[i + 1]] | kQuad.t2[in[i + 2]] | kQuad.t3[in[i + 3]];
        std::uint32_t b = kQuad.t0[in[i + 4]] | kQuad.t1[in[i + 5]] | kQuad.t2[in[i + 6]] | kQuad.t3[in[i + 7]];
        if ((a | b) & kBad)
            break;
        std::uint64_t v = __builtin_bswap64((std::uint64_t(a) << 40) | (std::uint64_t(b) << 16));
        std::memcpy(out + o, &v, 8);
        i += 8;
        o += 6;
    }
    while (i + 4 <= size) {
        std::uint32_t a = kQuad.t0[in[i]] | kQuad.t1[in[i + 1]] | kQuad.t2[in[i + 2]] | kQuad.t3[in[i + 3]];
        if (a & kBad)
            break;
        out[o] = static_cast<std::uint8_t>(a >> 16);
        out[o + 1] = static_cast<std::uint8_t>(a >> 8);
        out[o + 2] = static_cast<std::uint8_t>(a);
        i += 4;
        o += 3;
    }
    return i;
}
} // namespace

std::string base64EncodedString(const std::uint8_t* data, size_t size)
{
    std::string out;
    out.resize((size + 2) / 3 * 4);
    char* o = out.data();
    size_t i = 0;
    // Six bytes per step from one 64-bit load (the two extra bytes loaded are not used).
    for (; i + 8 <= size; i += 6, o += 8) {
        std::uint64_t v = loadBigEndian64(data + i);
        putPair(o, std::uint32_t(v >> 52) & 0xFFF);
        putPair(o + 2, std::uint32_t(v >> 40) & 0xFFF);
        putPair(o + 4, std::uint32_t(v >> 28) & 0xFFF);
        putPair(o + 6, std::uint32_t(v >> 16) & 0xFFF);
    }
    for (; i + 3 <= size; i += 3, o += 4) {
        std::uint32_t v = (std::uint32_t(data[i]) << 16) | (std::uint32_t(data[i + 1]) << 8) | data[i + 2];
        putPair(o, v >> 12);
        putPair(o + 2, v & 0xFFF);
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

std::optional<Bytes> decodeStrict(std::string_view text)
{
    const size_t size = text.size();
    if (size % 4 != 0)
        return std::nullopt;
    if (size == 0)
        return Bytes {};
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    Bytes out(size / 4 * 3);
    size_t i = decodeCleanGroups(in, size, out.data());
    if (i == size)
        return out;
    // Only the last group may stop the fast path, and only through its padding.
    if (i != size - 4)
        return std::nullopt;
    std::uint8_t c0 = kDecode[in[i]], c1 = kDecode[in[i + 1]], c2 = kDecode[in[i + 2]];
    if (c0 == kSkip || c1 == kSkip)
        return std::nullopt;
    size_t o = i / 4 * 3;
    out[o] = static_cast<std::uint8_t>((c0 << 2) | (c1 >> 4));
    if (in[i + 2] == '=' && in[i + 3] == '=') {
        out.resize(o + 1);
        return out;
    }
    if (c2 == kSkip || in[i + 3] != '=')
        return std::nullopt;
    out[o + 1] = static_cast<std::uint8_t>(((c1 & 15) << 4) | (c2 >> 2));
    out.resize(o + 2);
    return out;
}

} // namespace penwick::WHBase64

namespace penwick {
Value arrayBufferMarker(const Bytes& bytes)
{
    // Built member by member: an initializer list would copy the (possibly huge) text.
    Value marker = Value::object();
    marker["WHType"] = "ArrayBuffer";
    marker["data"] = WHBase64::base64EncodedString(bytes);
    return marker;
}
} // namespace penwick
