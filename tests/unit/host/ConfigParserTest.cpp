#include <array>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "host/WHConfigParser.h"
#include "support/FakeAppEnvironment.h"
#include "support/LogCapture.h"

using penwick::WHConfigParser;
using Names = std::vector<std::string>;

namespace {

WHConfigParser parse(const std::string& body)
{
    WHConfigParser parser;
    EXPECT_TRUE(parser.parseText("<?xml version=\"1.0\"?><widget>" + body + "</widget>"));
    return parser;
}

// Preferences keep their case and the last value wins, as does the last content; the widget's own
// name folds its white space and is bounded; a feature's package and onload rules are its own.
TEST(ConfigParser, PreferencesContentNameFeaturesAndOnloadRules)
{
    auto p = parse(R"(<preference name="EnableWebGL" value="true"/><preference name="enablewebgl" value="x"/>
        <preference name="Twice" value="1"/><preference name="Twice" value="2"/>
        <preference name="Gone" value="a"/><preference name="Gone"/><preference value="no-name"/>
        <x:preference name="Prefixed" value="1"/><Preference name="Capital" value="1"/>
        <feature name="F"><preference name="Spaced" value="  a &amp; b  "/><name>Inner</name></feature>
        <content src="first.html"/><content src="Second.html"/><access origin="https://A.example"/><access origin="*"/><access/>
        <name short="N">
          My <b>App</b> &amp; co </name><name>Second</name>
        <param name="osx-package" value="Before"/>
        <feature name="File"><param name="OSX-Package" value="WHFile"/></feature>
        <feature name="Device"><param name="ios-package" value="First"/><param name="osx-package" value="WHDevice"/></feature>
        <feature><param name="osx-package" value="Nameless"/><param name="onload" value="true"/></feature>
        <feature name="A"><param name="onload" value="true"/></feature>
        <feature name="B"><param name="onload" value="TRUE"/></feature>
        <feature name="C"><param name="osx-package" value="C" onload="TrUe"/></feature>
        <feature name="D"><param name="onload" value="true"/><param name="x" onload="true"/></feature>
        <feature name="E"><param name="onload" value="true" onload="true"/></feature>
        <feature name="Outer"><feature name="Inner"></feature><param name="osx-package" value="Ignored"/></feature>
        <param name="onload" value="true"/>)");
    std::map<std::string, std::string> expected { { "EnableWebGL", "true" }, { "enablewebgl", "x" }, { "Twice", "2" },
        { "Spaced", "  a & b  " } };
    EXPECT_EQ(p.settings, expected);
    EXPECT_EQ(p.startPage, "Second.html");
    EXPECT_EQ(p.whitelistHosts, (Names { "https://A.example", "*" }));
    EXPECT_EQ(p.widgetName, "My App & co");
    EXPECT_EQ(p.pluginsDict, (std::map<std::string, std::string> { { "file", "WHFile" }, { "device", "WHDevice" }, { "c", "C" } }));
    EXPECT_EQ(p.startupPluginNames, (Names { "a", "c", "d", "d", "e" }));
    EXPECT_FALSE(parse(R"(<content src="a.html"/><content/>)").startPage);
    EXPECT_FALSE(parse("<name> \n </name>").widgetName);
    EXPECT_EQ(parse("<name>" + std::string(300, 'a') + "</name>").widgetName, std::string(WHConfigParser::kMaxNameLength, 'a'));
}

TEST(ConfigParser, MalformedDocumentKeepsWhatCameBeforeAndLogsWhere)
{
    penwick::test::LogCapture log;
    WHConfigParser p;
    EXPECT_TRUE(p.parseText("<widget>\n  <preference name=\"First\" value=\"1\"/>\n"
                            "  <feature name=\"F\"><param name=\"onload\" value=\"true\"/></feature>\n"
                            "  <preference name=\"Second\" value=2/>"));
    EXPECT_EQ(p.settings, (std::map<std::string, std::string> { { "First", "1" } }));
    EXPECT_EQ(p.startupPluginNames, (Names { "f" }));
    EXPECT_EQ(log.lines(), (Names { "config.xml: XML error at line 4, column 34: not well-formed (invalid token)" }));
}

// Single-byte encodings expat does not know are read through iconv; multi-byte ones it cannot take.
// Expat's own ISO-8859-1 is checked end to end.
TEST(ConfigParser, TheDeclaredEncodingIsHonoured)
{
    const std::array<std::string, 3> cases[] = { { "windows-1252", "\x80", "\xe2\x82\xac" }, { "Shift_JIS", "x", "" } };
    for (const auto& [encoding, value, read] : cases) {
        penwick::test::LogCapture log;
        WHConfigParser p;
        EXPECT_TRUE(p.parseText("<?xml version=\"1.0\" encoding=\"" + encoding + "\"?><widget><preference name=\"p\" value=\"" + value + "\"/></widget>"));
        EXPECT_EQ(p.settings["p"], read) << encoding;
        EXPECT_EQ(log.lines(), read.empty() ? Names { "config.xml: XML error at line 1, column 30: unknown encoding" } : Names {});
    }
}

TEST(ConfigParser, UnreadableFilesAreReportedAsSuch)
{
    const penwick::test::FakeAppEnvironment environment; // for its temporary folder
    const std::string dir = environment.temporaryDirectory();
    std::filesystem::create_directories(dir + "/config.xml");
    penwick::test::LogCapture log;
    const std::pair<std::string, std::string> cases[] = { { "/nonexistent/config.xml", "No such file or directory" },
        { dir + "/config.xml", "Is a directory" } };
    for (const auto& [path, reason] : cases) {
        WHConfigParser parser;
        auto parsed = parser.parseFile(path);
        ASSERT_FALSE(parsed) << path;
        EXPECT_EQ(parsed.error().message, "config.xml: cannot read " + path + ": " + reason);
    }
    // At the limit a document is read; one byte more and it is refused unread.
    const std::string path = dir + "/big.xml";
    for (size_t size : { WHConfigParser::kMaxFileSize, WHConfigParser::kMaxFileSize + 1 }) {
        std::ofstream(path) << "<widget><!--" << std::string(size - 24, 'x') << "--></widget>";
        WHConfigParser parser;
        auto parsed = parser.parseFile(path);
        EXPECT_EQ(parsed ? "" : parsed.error().message,
            size > WHConfigParser::kMaxFileSize ? "config.xml: " + path + " is 4194305 bytes, more than the 4194304 bytes allowed; starting without it" : "");
    }
    EXPECT_TRUE(log.lines().empty()) << "no XML error for a file that was never read";
}

} // namespace
