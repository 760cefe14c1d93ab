#include "host/WHSettingsConversions.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "base/AsciiCase.h"
#include "host/WHViewController.h"

namespace penwick {
namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}
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

std::optional<WindowSize> WHSettingsConversions::windowSize(std::string_view text)
{
    size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos)
        return std::nullopt;
    auto side = [](std::string_view part) -> std::optional<double> {
        part = trimmed(part);
        if (part.empty() || part.size() > 5 || !std::all_of(part.begin(), part.end(), isDigit))
            return std::nullopt;
        int value = std::stoi(std::string(part));
        if (value < 1 || value > kMaxWindowSide)
            return std::nullopt;
        return value;
    };
    auto width = side(text.substr(0, x)), height = side(text.substr(x + 1));
    if (!width || !height)
        return std::nullopt;
    return WindowSize { *width, *height };
}

bool WHSettingsConversions::isFullScreen(std::string_view text) { return asciiLowercase(std::string(trimmed(text))) == "fullscreen"; }

std::optional<double> WHSettingsConversions::nonNegativeSeconds(std::string_view text)
{
    text = trimmed(text);
    size_t point = text.find('.');
    std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() && fraction.empty())
        return std::nullopt;
    if (!std::all_of(whole.begin(), whole.end(), isDigit) || !std::all_of(fraction.begin(), fraction.end(), isDigit))
        return std::nullopt;
    // Not strtod: it reads the user's locale's decimal separator, and "0.5" under German is 0.
    double seconds = 0;
    std::from_chars(text.data(), text.data() + text.size(), seconds);
    return seconds;
}

} // namespace penwick
