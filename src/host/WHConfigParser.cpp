#include "host/WHConfigParser.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <expat.h>
#include <memory>

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/Log.h"

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

// Answers whether the parser took the chunk; an XML error goes to the delegate.
bool feed(WHConfigParser& delegate, XML_Parser parser, const char* data, size_t size, bool last)
{
    if (XML_Parse(parser, data, static_cast<int>(size), last) != XML_STATUS_ERROR)
        return true;
    delegate.parseErrorOccurred(XML_GetCurrentLineNumber(parser), XML_GetCurrentColumnNumber(parser),
        XML_ErrorString(XML_GetErrorCode(parser)));
    return false;
}

constexpr const char* kNoParserMessage = "Failed to initialize XML parser.";
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

void WHConfigParser::parseErrorOccurred(unsigned long line, unsigned long column, const std::string& description)
{
    log::message(format("config.xml: XML error at line %@, column %@: %@", line, column, description));
}

Result<void> WHConfigParser::parseText(const std::string& text)
{
    auto parser = makeParser(this);
    if (!parser)
        return Error { 0, kNoParserMessage };
    (void)feed(*this, parser.get(), text.data(), text.size(), true);
    return {};
}

Result<void> WHConfigParser::parseFile(const std::string& path)
{
    auto unreadable = [&](int error) {
        return Error { error, format("config.xml: cannot read %@: %@", path, std::strerror(error)) };
    };
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return unreadable(errno);
    auto parser = makeParser(this);
    if (!parser)
        return Error { 0, kNoParserMessage };
    char buffer[16384];
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        // A folder in the file's place opens but does not read.
        if (std::ferror(file.get()))
            return unreadable(errno);
        bool last = n < sizeof buffer;
        if (!feed(*this, parser.get(), buffer, n, last) || last)
            return {};
    }
}

} // namespace penwick
