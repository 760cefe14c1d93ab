#include "bridge/WHJSONSerializing.h"

#include <array>
#include <charconv>
#include <cstring>
#include <vector>

#include "base/Utf8.h"
#include "bridge/WHBase64.h"

namespace penwick::WHJSONSerializing {
namespace {
// Results can carry many megabytes of text (Base64 of file contents), so strings are copied in
// runs of bytes that need no escaping, found eight at a time.
constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

inline bool hasZeroByte(std::uint64_t w) { return ((w - kOnes) & ~w & kHighs) != 0; }

// True when one of the eight bytes is a control character, '"', '\\' or not ASCII.
inline bool needsAttention(std::uint64_t w)
{
    bool control = ((w - kOnes * 0x20) & ~w & kHighs) != 0;
    return control || (w & kHighs) || hasZeroByte(w ^ (kOnes * '"')) || hasZeroByte(w ^ (kOnes * '\\'));
}

inline bool plainByte(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

} // namespace

bool appendQuoted(std::string& out, std::string_view s)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const char* p = s.data();
    const size_t n = s.size();
    out += '"';
    size_t i = 0;
    while (i < n) {
        size_t start = i;
        while (i + 8 <= n) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            if (needsAttention(w))
                break;
            i += 8;
        }
        while (i < n && plainByte(static_cast<unsigned char>(p[i])))
            ++i;
        out.append(p + start, i - start);
        if (i == n)
            break;
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c >= 0x80) {
            size_t len = utf8SequenceLength(s.substr(i));
            if (len == 0)
                return false;
            out.append(p + i, len);
            i += len;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        ++i;
    }
    out += '"';
    return true;
}

namespace {

const char* const kBadText = "invalid UTF-8 in a text";
const char* const kTooDeep = "containers nested too deeply";

// About the length of the pretty text, so that a large answer is written into one allocation.
size_t estimatedSize(const Value& value, int depth)
{
    if (depth >= kMaxDepth)
        return 0;
    switch (value.type()) {
    case Value::value_t::string:
        return value.get_ref<const std::string&>().size() + 2;
    case Value::value_t::binary:
        return value.get_binary().size() / 3 * 4 + 64 + static_cast<size_t>(depth) * 4;
    case Value::value_t::array: {
        size_t n = 2;
        for (const auto& v : value.get_ref<const ValueArray&>())
            n += estimatedSize(v, depth + 1) + static_cast<size_t>(depth) * 2 + 4;
        return n;
    }
    case Value::value_t::object: {
        size_t n = 2;
        for (const auto& [key, v] : value.get_ref<const ValueObject&>())
            n += key.size() + estimatedSize(v, depth + 1) + static_cast<size_t>(depth) * 2 + 6;
        return n;
    }
    default:
        return 24;
    }
}

void appendIndent(std::string& out, int depth) { out.append(static_cast<size_t>(depth) * 2, ' '); }


// Checked after every member and before every text: a text passes the limit by at most one
// member's indentation and punctuation before the writer stops.
std::optional<std::string> appendValue(std::string& out, const Value& value, int depth, size_t limit)
{
    switch (value.type()) {
    case Value::value_t::null:
    case Value::value_t::discarded:
        out += "null";
        return std::nullopt;
    case Value::value_t::boolean:
        out += value.get<bool>() ? "true" : "false";
        return std::nullopt;
    case Value::value_t::number_integer:
    case Value::value_t::number_unsigned: {
        char buf[24];
        // (is_number_integer() holds for unsigned numbers too: ask the type itself.)
        auto r = value.type() == Value::value_t::number_unsigned
            ? std::to_chars(buf, buf + sizeof buf, value.get<std::uint64_t>())
            : std::to_chars(buf, buf + sizeof buf, value.get<std::int64_t>());
        out.append(buf, r.ptr);
        return std::nullopt;
    }
    case Value::value_t::number_float:
        // Shortest round-trip form; non-finite numbers become null.
        out += value.dump();
        return std::nullopt;
    case Value::value_t::string:
        if (out.size() + value.get_ref<const std::string&>().size() > limit)
            return kTooLarge;
        if (!appendQuoted(out, value.get_ref<const std::string&>()))
            return kBadText;
        // Escapes can make the text longer than the string.
        return out.size() > limit ? std::optional<std::string>(kTooLarge) : std::nullopt;
    case Value::value_t::binary: {
        if (out.size() + value.get_binary().size() / 3 * 4 > limit)
            return kTooLarge;
        // A byte buffer reaches the page as the marker it travels in.
        return appendValue(out, arrayBufferMarker(value.get_binary()), depth, limit);
    }
    case Value::value_t::array: {
        if (depth >= kMaxDepth)
            return kTooDeep;
        const auto& array = value.get_ref<const ValueArray&>();
        if (array.empty()) {
            out += "[]";
            return std::nullopt;
        }
        out += "[\n";
        for (size_t i = 0; i < array.size(); ++i) {
            appendIndent(out, depth + 1);
            if (auto error = appendValue(out, array[i], depth + 1, limit))
                return error;
            if (out.size() > limit)
                return kTooLarge;
            out += i + 1 < array.size() ? ",\n" : "\n";
        }
        appendIndent(out, depth);
        out += ']';
        return std::nullopt;
    }
    case Value::value_t::object: {
        if (depth >= kMaxDepth)
            return kTooDeep;
        const auto& object = value.get_ref<const ValueObject&>();
        if (object.empty()) {
            out += "{}";
            return std::nullopt;
        }
        out += "{\n";
        size_t i = 0;
        for (const auto& [key, member] : object) {
            appendIndent(out, depth + 1);
            if (out.size() + key.size() > limit)
                return kTooLarge;
            if (!appendQuoted(out, key))
                return kBadText;
            out += ": ";
            if (auto error = appendValue(out, member, depth + 1, limit))
                return error;
            if (out.size() > limit)
                return kTooLarge;
            out += ++i < object.size() ? ",\n" : "\n";
        }
        appendIndent(out, depth);
        out += '}';
        return std::nullopt;
    }
    }
    out += "null";
    return std::nullopt;
}

} // namespace

std::optional<std::string> appendPrettyJSON(std::string& out, const Value& value, int depth, size_t limit)
{
    // An answer that will not fit gets no room made for it in advance.
    size_t estimate = estimatedSize(value, depth) + 16;
    if (out.size() + estimate <= limit)
        out.reserve(out.size() + estimate);
    return appendValue(out, value, depth, limit);
}

bool nestedDeeperThan(const Value& value, int levels)
{
    std::vector<std::pair<const Value*, int>> pending { { &value, 1 } };
    while (!pending.empty()) {
        auto [v, level] = pending.back();
        pending.pop_back();
        if (!v->is_array() && !v->is_object())
            continue;
        if (level > levels)
            return true;
        for (const auto& member : *v) {
            if (member.is_array() || member.is_object())
                pending.emplace_back(&member, level + 1);
        }
    }
    return false;
}

namespace {
// Whether `value` holds a byte buffer; nothing when it nests deeper than the writer goes.
std::optional<bool> findBytes(const Value& value, int depth)
{
    if (depth >= kMaxDepth)
        return std::nullopt;
    bool found = false;
    auto visit = [&](const Value& member) {
        auto inner = findBytes(member, depth + 1);
        found = found || inner.value_or(false);
        return inner.has_value();
    };
    switch (value.type()) {
    case Value::value_t::binary:
        return true;
    case Value::value_t::array:
        for (const auto& v : value.get_ref<const ValueArray&>()) {
            if (!visit(v))
                return std::nullopt;
        }
        return found;
    case Value::value_t::object:
        for (const auto& [key, v] : value.get_ref<const ValueObject&>()) {
            if (!visit(v))
                return std::nullopt;
        }
        return found;
    default:
        return false;
    }
}
} // namespace

bool containsBytes(const Value& value) { return findBytes(value, 0).value_or(false); }

} // namespace penwick::WHJSONSerializing
