#include <gtest/gtest.h>

#include "host/WHSettingsConversions.h"
#include "host/WHViewController.h"

using penwick::WHSettingsConversions;

namespace {

TEST(SettingsConversions, StringBoolean)
{
    for (const char* yes : { "true", "True", "YES", "y", "1", "  +0009", "-1", "t", "\t7x" })
        EXPECT_TRUE(WHSettingsConversions::boolValue(yes)) << yes;
    for (const char* no : { "", "false", "0", "000", "no", " ", "+", "-0", "x1", "on" })
        EXPECT_FALSE(WHSettingsConversions::boolValue(no)) << no;
}

TEST(SettingsConversions, Integer)
{
    EXPECT_EQ(WHSettingsConversions::integerValue("42"), 42);
    EXPECT_EQ(WHSettingsConversions::integerValue("  -7s"), -7);
    EXPECT_EQ(WHSettingsConversions::integerValue("+12.9"), 12);
    EXPECT_EQ(WHSettingsConversions::integerValue("abc"), 0);
    EXPECT_EQ(WHSettingsConversions::integerValue(""), 0);
    EXPECT_EQ(WHSettingsConversions::integerValue("99999999999999999999999"), LLONG_MAX);
}

TEST(SettingsConversions, WindowSizeNeedsExactlyTwoPartsSplitAtLowerCaseX)
{
    auto size = WHSettingsConversions::windowSize("800x600");
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 800);
    EXPECT_EQ(size->height, 600);
    auto blanks = WHSettingsConversions::windowSize(" 640 x 480 ");
    ASSERT_TRUE(blanks);
    EXPECT_EQ(blanks->width, 640);
    EXPECT_EQ(blanks->height, 480);
    auto zero = WHSettingsConversions::windowSize("0x600");
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->width, 0);
    EXPECT_FALSE(WHSettingsConversions::windowSize("800X600"));
    EXPECT_FALSE(WHSettingsConversions::windowSize("800x600x2"));
    EXPECT_FALSE(WHSettingsConversions::windowSize("800"));
    auto words = WHSettingsConversions::windowSize("axb");
    ASSERT_TRUE(words);
    EXPECT_EQ(words->width, 0);
}

} // namespace
