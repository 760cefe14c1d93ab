#include <clocale>

#include <gtest/gtest.h>

#include "host/WHSettingsConversions.h"
#include "host/WHViewController.h" // WindowSize

using penwick::WHSettingsConversions;

TEST(SettingsConversions, BooleansWindowSizeFullScreenAndSecondsTakeOnlyWhatTheyMean)
{
    for (const char* yes : { "true", "True", "YES", "y", "1", "  +0009", "-1", "t", "\t7x" })
        EXPECT_TRUE(WHSettingsConversions::boolValue(yes)) << yes;
    for (const char* no : { "", "false", "0", "000", "no", " ", "+", "-0", "x1", "on" })
        EXPECT_FALSE(WHSettingsConversions::boolValue(no)) << no;

    const std::pair<const char*, std::pair<double, double>> sizes[]
        = { { "800x600", { 800, 600 } }, { " 640 X 480 ", { 640, 480 } }, { "1x16384", { 1, 16384 } }, { "0800x0600", { 800, 600 } } };
    for (const auto& [text, size] : sizes) {
        auto parsed = WHSettingsConversions::windowSize(text).value_or(penwick::WindowSize {}); // none is 0x0
        EXPECT_EQ(std::pair(parsed.width, parsed.height), size) << text;
    }
    for (const char* bad : { "99999x99999", "16385x600", "1e9x1e9", "-800x600", "800x-600", "0x600", "800x600x2", "800", "axb", "x",
             "800 600", "+800x600", "800.5x600", "fullscreen" })
        EXPECT_FALSE(WHSettingsConversions::windowSize(bad)) << bad;

    for (const char* yes : { "fullscreen", "FullScreen", "  FULLSCREEN\t" })
        EXPECT_TRUE(WHSettingsConversions::isFullScreen(yes)) << yes;
    for (const char* no : { "fulscreen", "full screen", "fullscreen1", "" })
        EXPECT_FALSE(WHSettingsConversions::isFullScreen(no)) << no;

    // The same under a locale whose decimal separator is a comma (as GTK sets it from LANG), where one is installed.
    const std::pair<const char*, double> seconds[] = { { "0", 0 }, { " 5 ", 5 }, { "0.5", 0.5 }, { "2.", 2 }, { ".25", 0.25 } };
    for (const char* locale : { "C", "de_DE.UTF-8" }) {
        if (!std::setlocale(LC_NUMERIC, locale))
            continue;
        for (const auto& [text, value] : seconds)
            EXPECT_EQ(WHSettingsConversions::nonNegativeSeconds(text), value) << text << " under " << locale;
    }
    std::setlocale(LC_NUMERIC, "C");
    for (const char* bad : { "abc", "", " ", "-1", "+1", "1e3", "5s", ".", "1.2.3", "inf", "nan" })
        EXPECT_FALSE(WHSettingsConversions::nonNegativeSeconds(bad)) << bad;
}
