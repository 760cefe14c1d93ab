#include "host/WHSettingsConversions.h"

#include <cctype>
#include <climits>
#include <vector>

#include "host/WHViewController.h"

namespace penwick {
namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
} // namespace

bool WHSettingsConversions::boolValue(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    while (i < text.size() && text[i] == '0')
        ++i;
    if (i >= text.size())
        return false;
    char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

long long WHSettingsConversions::integerValue(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        int digit = text[i] - '0';
        if (value > (LLONG_MAX - digit) / 10) {
            value = LLONG_MAX; // saturate instead of overflowing on absurd values
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

std::optional<WindowSize> WHSettingsConversions::windowSize(std::string_view text)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t x = text.find('x', start);
        parts.push_back(text.substr(start, x == std::string_view::npos ? std::string_view::npos : x - start));
        if (x == std::string_view::npos)
            break;
        start = x + 1;
    }
    if (parts.size() != 2)
        return std::nullopt;
    return WindowSize { static_cast<double>(integerValue(parts[0])), static_cast<double>(integerValue(parts[1])) };
}

} // namespace penwick
