#include "host/WHConfigParser.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <expat.h>
#include <iconv.h>
#include <memory>
#include <sys/stat.h>

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

void XMLCALL onText(void* userData, const XML_Char* text, int length)
{
    static_cast<WHConfigParser*>(userData)->didFindCharacters(std::string_view(text, static_cast<size_t>(length)));
}

// Expat reads UTF-8, UTF-16, ISO-8859-1 and US-ASCII itself. Other single-byte encodings that the
// C library knows (windows-1252, ISO-8859-15, KOI8-R...) get a byte table built with iconv; an
// encoding with multi-byte sequences, or one that moves ASCII, is refused, which expat reports as
// an XML error at the declaration.
int XMLCALL onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
{
    iconv_t cd = iconv_open("UTF-32LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return XML_STATUS_ERROR;
    bool singleByte = true;
    for (int byte = 0; byte < 256 && singleByte; ++byte) {
        char in = static_cast<char>(byte);
        unsigned char out[8];
        char* inPtr = &in;
        char* outPtr = reinterpret_cast<char*>(out);
        size_t inLeft = 1, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (done == static_cast<size_t>(-1)) {
            // A lead byte of a longer sequence: not a single-byte encoding.
            singleByte = errno != EINVAL;
            info->map[byte] = -1;
        } else if (sizeof out - outLeft == 4) {
            info->map[byte] = static_cast<int>(out[0] | out[1] << 8 | out[2] << 16 | static_cast<unsigned>(out[3]) << 24);
        } else {
            info->map[byte] = -1;
        }
    }
    iconv_close(cd);
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return singleByte ? XML_STATUS_OK : XML_STATUS_ERROR;
}

ParserHolder makeParser(WHConfigParser* delegate)
{
    // No namespace processing: a prefixed element keeps its prefix and so matches nothing. No
    // encoding is imposed: the document's declaration (or byte order mark) names it.
    ParserHolder parser(XML_ParserCreate(nullptr));
    if (!parser)
        return nullptr;
    XML_SetUserData(parser.get(), delegate);
    XML_SetElementHandler(parser.get(), onStart, onEnd);
    XML_SetCharacterDataHandler(parser.get(), onText);
    XML_SetUnknownEncodingHandler(parser.get(), onUnknownEncoding, nullptr);
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
    // The widget's own <name>, not one nested deeper.
    if (++m_depth == 2 && elementName == "name" && m_seenWidget && !widgetName) {
        m_inName = true;
        m_nameText.clear();
    }
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
    } else if (elementName == "widget" && !m_seenWidget) {
        m_seenWidget = true;
        if (const std::string* id = attribute(attributes, "id"))
            widgetId = *id;
        if (const std::string* version = attribute(attributes, "version"))
            widgetVersion = *version;
    }
}

void WHConfigParser::didEndElement(const std::string& elementName)
{
    --m_depth;
    if (elementName == "feature")
        m_featureName.reset();
    if (m_inName && elementName == "name") {
        m_inName = false;
        // A name cut at the limit loses its last, maybe partial, UTF-8 sequence.
        if (m_nameText.size() >= kMaxNameLength) {
            while (!m_nameText.empty() && (static_cast<unsigned char>(m_nameText.back()) & 0xC0) == 0x80)
                m_nameText.pop_back();
            if (!m_nameText.empty() && static_cast<unsigned char>(m_nameText.back()) >= 0xC0)
                m_nameText.pop_back();
        }
        // White space as a reader sees it: runs of it are one space, none at the ends.
        std::string name;
        for (char c : m_nameText) {
            bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
            if (!space)
                name += c;
            else if (!name.empty() && name.back() != ' ')
                name += ' ';
        }
        if (!name.empty() && name.back() == ' ')
            name.pop_back();
        if (!name.empty())
            widgetName = std::move(name);
    }
}

void WHConfigParser::didFindCharacters(std::string_view text)
{
    if (m_inName && m_nameText.size() < kMaxNameLength)
        m_nameText.append(text.substr(0, kMaxNameLength - m_nameText.size()));
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
    // The whole document goes to expat in one piece: fed in small pieces, expat scans an unfinished
    // token again with each one, so a long attribute costs time growing with the square of its size.
    auto tooLarge = [&](std::uint64_t size) {
        return Error { EFBIG,
            format("config.xml: %@ is %@ bytes, more than the %@ bytes allowed; starting without it", path, size, kMaxFileSize) };
    };
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > kMaxFileSize)
        return tooLarge(static_cast<std::uint64_t>(info.st_size));
    std::string text;
    char buffer[65536];
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        // A folder in the file's place opens but does not read.
        if (std::ferror(file.get()))
            return unreadable(errno);
        text.append(buffer, n);
        // The file may have grown since it was measured.
        if (text.size() > kMaxFileSize)
            return tooLarge(text.size());
        if (n < sizeof buffer)
            break;
    }
    return parseText(text);
}

} // namespace penwick
