#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace penwick {

// Collects what the host needs from config.xml: settings (preference), the plugin map and the
// start-up plugins (feature/param), access origins and the start page (content). Driven by an
// event-driven XML parser; element names are matched exactly, without namespace processing.
class WHConfigParser {
public:
    using Attributes = std::map<std::string, std::string>;

    WHConfigParser();

    // Parser callbacks.
    void didStartElement(const std::string& elementName, const Attributes& attributes);
    void didEndElement(const std::string& elementName);
    void didFindCharacters(std::string_view text);
    // Logs where the document broke off; what was collected before stays.
    void parseErrorOccurred(unsigned long line, unsigned long column, const std::string& description);

    // A config.xml larger than this is refused whole: no application needs one near it.
    static constexpr std::uint64_t kMaxFileSize = 4u * 1024u * 1024u;

    // Parses a whole document with expat in the encoding it declares; parsing stops at the first
    // XML error. Fails, with the line to log, when the file cannot be read, is larger than
    // kMaxFileSize, or the parser cannot be created.
    Result<void> parseFile(const std::string& path);
    Result<void> parseText(const std::string& text);

    std::map<std::string, std::string> pluginsDict;
    std::map<std::string, std::string> settings;
    std::vector<std::string> whitelistHosts;
    std::optional<std::string> startPage;
    std::vector<std::string> startupPluginNames;
    // The `id` of the (first) widget element: the application's id as its author named it.
    std::optional<std::string> widgetId;
    // The text of the widget's <name>: what users call the app (its window title).
    std::optional<std::string> widgetName;
    // The widget's `version`.
    std::optional<std::string> widgetVersion;
    // The document got as far as its widget element.
    bool sawWidget() const { return m_seenWidget; }
    static constexpr size_t kMaxNameLength = 256;

private:
    std::optional<std::string> m_featureName;
    bool m_seenWidget = false;
    int m_depth = 0;
    bool m_inName = false;
    std::string m_nameText;
};

} // namespace penwick
