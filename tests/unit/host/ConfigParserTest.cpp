#include <gtest/gtest.h>

#include "host/WHConfigParser.h"

using penwick::WHConfigParser;

namespace {

WHConfigParser parse(const std::string& body, bool wrap = true)
{
    WHConfigParser parser;
    std::string text = wrap ? "<?xml version=\"1.0\"?><widget>" + body + "</widget>" : body;
    EXPECT_TRUE(parser.parseText(text));
    return parser;
}

TEST(ConfigParser, PreferencesKeepCaseAndTheLastValueWins)
{
    auto p = parse(R"(<preference name="EnableWebGL" value="true"/>
        <preference name="enablewebgl" value="x"/>
        <preference name="Twice" value="1"/><preference name="Twice" value="2"/>
        <preference name="Gone" value="a"/><preference name="Gone"/>
        <preference value="no-name"/>
        <preference name="Spaced" value="  a &amp; b  "/>)");
    EXPECT_EQ(p.settings.at("EnableWebGL"), "true");
    EXPECT_EQ(p.settings.at("enablewebgl"), "x");
    EXPECT_EQ(p.settings.at("Twice"), "2");
    EXPECT_EQ(p.settings.count("Gone"), 0u);
    EXPECT_EQ(p.settings.at("Spaced"), "  a & b  ");
    EXPECT_EQ(p.settings.size(), 4u);
}

TEST(ConfigParser, FeaturesMapLowerCasedNamesToClassNamesAsWritten)
{
    auto p = parse(R"(<feature name="File"><param name="OSX-Package" value="WHFile"/></feature>
        <feature name="Device"><param name="ios-package" value="First"/><param name="osx-package" value="WHDevice"/></feature>
        <feature><param name="osx-package" value="Nameless"/></feature>
        <preference name="InFeature" value="kept"/>)");
    EXPECT_EQ(p.pluginsDict.at("file"), "WHFile");
    EXPECT_EQ(p.pluginsDict.at("device"), "WHDevice");
    EXPECT_EQ(p.pluginsDict.size(), 2u);
    EXPECT_EQ(p.settings.at("InFeature"), "kept");
}

TEST(ConfigParser, OnloadRulesAndParamsOutsideFeatures)
{
    auto p = parse(R"(<param name="osx-package" value="Before"/>
        <feature name="A"><param name="onload" value="true"/></feature>
        <feature name="B"><param name="onload" value="TRUE"/></feature>
        <feature name="C"><param name="osx-package" value="C" onload="TrUe"/></feature>
        <feature name="D"><param name="onload" value="true"/><param name="x" onload="true"/></feature>
        <feature name="E"><param name="onload" value="true" onload="true"/></feature>
        <param name="onload" value="true"/>)");
    EXPECT_EQ(p.startupPluginNames, (std::vector<std::string> { "a", "c", "d", "d", "e" }));
    EXPECT_EQ(p.pluginsDict.count("before"), 0u);
}

TEST(ConfigParser, FeaturesDoNotNest)
{
    auto p = parse(R"(<feature name="Outer"><feature name="Inner"></feature>
        <param name="osx-package" value="Ignored"/></feature>)");
    EXPECT_TRUE(p.pluginsDict.empty());
}

TEST(ConfigParser, ContentAccessAndUnknownElements)
{
    auto p = parse(R"(<content src="first.html"/><content src="Second.html"/>
        <access origin="https://A.example"/><access origin="*"/><access/>
        <x:preference name="Prefixed" value="1"/><Preference name="Capital" value="1"/>)");
    EXPECT_EQ(p.startPage, "Second.html");
    EXPECT_EQ(p.whitelistHosts, (std::vector<std::string> { "https://A.example", "*" }));
    EXPECT_TRUE(p.settings.empty());

    auto cleared = parse(R"(<content src="a.html"/><content/>)");
    EXPECT_FALSE(cleared.startPage.has_value());
}

TEST(ConfigParser, MalformedDocumentKeepsWhatCameBefore)
{
    auto p = parse(R"(<widget><preference name="First" value="1"/><feature name="F"><param name="onload" value="true"/></feature><preference name="Second" value=2/>)",
        false);
    EXPECT_EQ(p.settings.at("First"), "1");
    EXPECT_EQ(p.settings.count("Second"), 0u);
    EXPECT_EQ(p.startupPluginNames, (std::vector<std::string> { "f" }));

    WHConfigParser garbage;
    EXPECT_TRUE(garbage.parseText(std::string("\0\xff<<", 4)));
    EXPECT_TRUE(garbage.settings.empty());
}

TEST(ConfigParser, MissingFileIsReported)
{
    WHConfigParser parser;
    EXPECT_FALSE(parser.parseFile("/nonexistent/config.xml"));
}

} // namespace
