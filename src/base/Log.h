#pragma once

#include <functional>
#include <string>
#include <string_view>

// One log line per event, through GLib's structured logging with the project's log domain
// ("penwick"), so lines reach stderr and the journal. Texts fixed by the system are passed in
// whole; Format.h fills their placeholders.
namespace penwick::log {

inline constexpr const char* kDomain = "penwick";

void message(std::string_view line);
void warning(std::string_view line);

// Tests capture lines here instead of scraping stderr. The sink is process-wide and must be set
// and cleared on the main thread while no other thread logs.
using Sink = std::function<void(std::string_view)>;
void setSinkForTesting(Sink sink);

} // namespace penwick::log
