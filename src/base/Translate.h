#pragma once

#include <string>

// The host's own words (dialog titles and buttons, menu entries, its pages) in the user's
// language, through gettext: the app's catalogue first, so that an app can word them its own way,
// then the host's. Without a catalogue for the user's language the English text stands.
namespace penwick {

inline constexpr const char* kTextDomain = "penwick";

// Names the folders holding the catalogues (<dir>/<lang>/LC_MESSAGES/<domain>.mo): the host's
// ("penwick") and the app's (its id; none when the folder does not exist). Called once, on the main
// thread, before any text is translated.
void bindCatalogues(const std::string& hostLocaleDir, const std::string& appId, const std::string& appLocaleDir);

// `text` in the user's language; `text` itself when no catalogue has it.
const char* translate(const char* text);

} // namespace penwick
