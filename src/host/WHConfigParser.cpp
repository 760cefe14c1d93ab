#include "host/WHConfigParser.h"

#include <cstdio>
#include <expat.h>
#include <memory>

#include "base/AsciiCase.h"

namespace penwick {
namespace {
const std::string* attribute(const WHConfigParser::Attributes& attributes, const char* name)
{
    auto it = attributes.find(name);
    return it == attributes.end() ? nullptr : &it->second;
}

struct ParserDeleter {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
};
using ParserHolder = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter>;

void XMLCALL onStart(void* userData, const XML_Char* name, const XML_Char** atts)
{
    WHConfigParser::Attributes attributes;
    for (size_t i = 0; atts[i]; i += 2)
        attributes[atts[i]] = atts[i + 1];
    static_cast<WHConfigParser*>(userData)->didStartElement(name, attributes);
}

void XMLCALL onEnd(void* userData, const XML_Char* name)
{
    static_cast<WHConfigParser*>(userData)->didEndElement(name);
}

ParserHolder makeParser(WHConfigParser* delegate)
{
    // No namespace processing: a prefixed element keeps its prefix and so matches nothing.
    ParserHolder parser(XML_ParserCreate("UTF-8"));
    if (!parser)
        return nullptr;
    XML_SetUserData(parser.get(), delegate);
    XML_SetElementHandler(parser.get(), onStart, onEnd);
    return parser;
}
} // namespace

WHConfigParser::WHConfigParser() = default;

void WHConfigParser::didStartElement(const std::string& elementName, const Attributes& attributes)
{
    if (elementName == "preference") {
        const std::string* name = attribute(attributes, "name");
        if (!name)
            return; // a setting needs a key
        if (const std::string* value = attribute(attributes, "value"))
            settings[*name] = *value;
        else
            settings.erase(*name);
    } else if (elementName == "feature") {
        const std::string* name = attribute(attributes, "name");
        if (name)
            m_featureName = asciiLowercase(*name);
        else
            m_featureName.reset();
    } else if (elementName == "param") {
        if (!m_featureName)
            return;
        const std::string* rawName = attribute(attributes, "name");
        std::string name = rawName ? asciiLowercase(*rawName) : std::string();
        const std::string* value = attribute(attributes, "value");
        if ((name == "ios-package" || name == "osx-package") && value)
            pluginsDict[*m_featureName] = *value;
        const std::string* onload = attribute(attributes, "onload");
        bool onloadParam = name == "onload" && value && *value == "true";
        bool onloadAttribute = onload && asciiLowercase(*onload) == "true";
        if (onloadParam || onloadAttribute)
            startupPluginNames.push_back(*m_featureName);
    } else if (elementName == "access") {
        if (const std::string* origin = attribute(attributes, "origin"))
            whitelistHosts.push_back(*origin);
    } else if (elementName == "content") {
        const std::string* src = attribute(attributes, "src");
        startPage = src ? std::optional<std::string>(*src) : std::nullopt;
    }
}

void WHConfigParser::didEndElement(const std::string& elementName)
{
    if (elementName == "feature")
        m_featureName.reset();
}

bool WHConfigParser::parseText(const std::string& text)
{
    auto parser = makeParser(this);
    if (!parser)
        return false;
    if (XML_Parse(parser.get(), text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_ERROR)
        parseErrorOccurred();
    return true;
}

bool WHConfigParser::parseFile(const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return false;
    auto parser = makeParser(this);
    if (!parser)
        return false;
    char buffer[16384];
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        bool last = n < sizeof buffer;
        if (XML_Parse(parser.get(), buffer, static_cast<int>(n), last) == XML_STATUS_ERROR) {
            parseErrorOccurred();
            break;
        }
        if (last)
            break;
    }
    return true;
}

} // namespace penwick
