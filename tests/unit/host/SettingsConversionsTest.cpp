#include <gtest/gtest.h>

#include "host/WHSettingsConversions.h"
#include "host/WHViewController.h" // WindowSize

using penwick::WHSettingsConversions;

namespace {

TEST(SettingsConversions, StringBooleanAndInteger)
{
    for (const char* yes : { "true", "True", "YES", "y", "1", "  +0009", "-1", "t", "\t7x" })
        EXPECT_TRUE(WHSettingsConversions::boolValue(yes)) << yes;
    for (const char* no : { "", "false", "0", "000", "no", " ", "+", "-0", "x1", "on" })
        EXPECT_FALSE(WHSettingsConversions::boolValue(no)) << no;
    const std::pair<const char*, long long> integers[] = { { "42", 42 }, { "  -7s", -7 }, { "+12.9", 12 }, { "abc", 0 },
        { "", 0 }, { "99999999999999999999999", LLONG_MAX } };
    for (const auto& [text, value] : integers)
        EXPECT_EQ(WHSettingsConversions::integerValue(text), value) << text;
}

TEST(SettingsConversions, WindowSizeNeedsExactlyTwoPartsSplitAtLowerCaseX)
{
    const std::pair<const char*, std::pair<long long, long long>> sizes[] = {
        { "800x600", { 800, 600 } }, { " 640 x 480 ", { 640, 480 } }, { "0x600", { 0, 600 } }, { "axb", { 0, 0 } } };
    for (const auto& [text, size] : sizes) {
        auto parsed = WHSettingsConversions::windowSize(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(std::pair(static_cast<long long>(parsed->width), static_cast<long long>(parsed->height)), size) << text;
    }
    for (const char* bad : { "800X600", "800x600x2", "800" })
        EXPECT_FALSE(WHSettingsConversions::windowSize(bad)) << bad;
}

} // namespace
