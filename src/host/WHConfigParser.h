#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

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
    void parseErrorOccurred() { }

    // Parses a whole document with expat. Parsing stops at the first error; what was collected
    // before it stays. Answers false when the parser could not be created.
    [[nodiscard]] bool parseFile(const std::string& path);
    [[nodiscard]] bool parseText(const std::string& text);

    std::map<std::string, std::string> pluginsDict;
    std::map<std::string, std::string> settings;
    std::vector<std::string> whitelistHosts;
    std::optional<std::string> startPage;
    std::vector<std::string> startupPluginNames;

private:
    std::optional<std::string> m_featureName;
};

} // namespace penwick
