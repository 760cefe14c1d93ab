#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <tuple>

#include "host/WHConfigParser.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

using penwick::WHConfigParser;
using Names = std::vector<std::string>;
using Map = std::map<std::string, std::string>;

static WHConfigParser parse(const std::string& body)
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
        <feature name="A"><param name="onload" value="true"/></feature><feature name="B"><param name="onload" value="TRUE"/></feature>
        <feature name="C"><param name="osx-package" value="C" onload="TrUe"/></feature>
        <feature name="D"><param name="onload" value="true"/><param name="x" onload="true"/></feature>
        <feature name="E"><param name="onload" value="true" onload="true"/></feature>
        <feature name="Outer"><feature name="Inner"></feature><param name="osx-package" value="Ignored"/></feature>
        <param name="onload" value="true"/>)");
    EXPECT_EQ(p.settings, (Map { { "EnableWebGL", "true" }, { "enablewebgl", "x" }, { "Twice", "2" }, { "Spaced", "  a & b  " } }));
    EXPECT_EQ(p.startPage, "Second.html");
    EXPECT_EQ(p.whitelistHosts, (Names { "https://A.example", "*" }));
    EXPECT_EQ(p.widgetName, "My App & co");
    EXPECT_EQ(p.pluginsDict, (Map { { "file", "WHFile" }, { "device", "WHDevice" }, { "c", "C" } }));
    EXPECT_EQ(p.startupPluginNames, (Names { "a", "c", "d", "d", "e" }));
    EXPECT_FALSE(parse(R"(<content src="a.html"/><content/>)").startPage);
    EXPECT_FALSE(parse("<name> \n </name>").widgetName);
    EXPECT_EQ(parse("<name>" + std::string(300, 'a') + "</name>").widgetName, std::string(WHConfigParser::kMaxNameLength, 'a'));
}

// Parsing stops at the first XML error, logged with where it is; what came before stays. Single-byte
// encodings expat does not know are read through iconv; multi-byte ones it cannot take. Expat's own
// ISO-8859-1 is checked end to end.
TEST(ConfigParser, AMalformedDocumentOrUnknownEncodingKeepsWhatCameBeforeAndLogsWhere)
{
    // The document, the preferences and start-up plugins read, the lines logged.
    const std::tuple<std::string, Map, Names, Names> cases[] = {
        { "<widget>\n  <preference name=\"First\" value=\"1\"/>\n  <feature name=\"F\"><param name=\"onload\" value=\"true\"/></feature>\n"
          "  <preference name=\"Second\" value=2/>",
            { { "First", "1" } }, { "f" }, { "config.xml: XML error at line 4, column 34: not well-formed (invalid token)" } },
        { "<?xml version=\"1.0\" encoding=\"windows-1252\"?><widget><preference name=\"p\" value=\"\x80\"/></widget>",
            { { "p", "\xe2\x82\xac" } }, {}, {} },
        { "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><widget><preference name=\"p\" value=\"x\"/></widget>", {}, {},
            { "config.xml: XML error at line 1, column 30: unknown encoding" } }
    };
    for (const auto& [document, settings, plugins, lines] : cases) {
        penwick::test::LogCapture log;
        WHConfigParser p;
        EXPECT_TRUE(p.parseText(document));
        EXPECT_EQ(std::tuple(p.settings, p.startupPluginNames, log.lines()), std::tuple(settings, plugins, lines));
    }
}

// At the limit a document is read; one byte more and it is refused unread.
TEST(ConfigParser, UnreadableAndTooLargeFilesAreReportedAsSuch)
{
    const penwick::test::TempDir tmp;
    const std::string dir = tmp.path;
    std::filesystem::create_directories(dir + "/config.xml");
    for (auto size : { WHConfigParser::kMaxFileSize, WHConfigParser::kMaxFileSize + 1 })
        std::ofstream(dir + "/" + std::to_string(size)) << "<widget><!--" << std::string(size - 24, 'x') << "--></widget>";
    penwick::test::LogCapture log;
    const std::pair<std::string, std::string> cases[] = { { dir + "/4194304", "" },
        { "/nonexistent/config.xml", "config.xml: cannot read /nonexistent/config.xml: No such file or directory" },
        { dir + "/config.xml", "config.xml: cannot read " + dir + "/config.xml: Is a directory" },
        { dir + "/4194305",
            "config.xml: " + dir + "/4194305 is 4194305 bytes, more than the 4194304 bytes allowed; starting without it" } };
    for (const auto& [path, error] : cases) {
        auto parsed = WHConfigParser().parseFile(path);
        EXPECT_EQ(parsed ? "" : parsed.error().message, error);
    }
    EXPECT_TRUE(log.lines().empty()) << "no XML error for a file that was never read";
}
