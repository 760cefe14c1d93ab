#pragma once

#include <functional>
#include <string>
#include <string_view>

// One log line per event, through GLib's structured logging with the project's log domain
// ("penwick"), so lines reach stderr and the journal. Texts fixed by the system are passed in
// whole; Format.h fills their placeholders. Every line is one line: control characters (newline
// and tab included) are written as "\xNN", so text a page gave cannot forge or hide a line.
namespace penwick::log {

inline constexpr const char* kDomain = "penwick";

void message(std::string_view line);
void warning(std::string_view line);
// Shown only when G_MESSAGES_DEBUG names the domain (or "all").
void debug(std::string_view line);

// `url` as a log line may show it: query and fragment keep their parameter names but not their
// values ("?code=…&state=…"), and a user name or password before the host is left out. Login
// answers carry one-time codes and tokens there.
std::string withoutQueryValues(std::string_view url);

// Tests capture lines here instead of scraping stderr. The sink is process-wide and must be set
// and cleared on the main thread while no other thread logs.
using Sink = std::function<void(std::string_view)>;
void setSinkForTesting(Sink sink);

} // namespace penwick::log
