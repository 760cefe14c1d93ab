// config.xml as the host reads it at start-up, and the settings conversions its values go through.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "host/WHConfigParser.h"
#include "host/WHSettingsConversions.h"
#include "host/WHViewController.h"

namespace penwick::fuzz::config_xml_target {


FUZZ_TARGET(config_xml)
{
    WHConfigParser parser;
    (void)parser.parseText(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& [key, value] : parser.settings) {
        (void)WHSettingsConversions::boolValue(value);
        (void)WHSettingsConversions::nonNegativeSeconds(value);
        (void)WHSettingsConversions::windowSize(value);
    }
    return 0;
}

} // namespace penwick::fuzz::config_xml_target
