#pragma once

#include <string>

namespace penwick::log {

// Records written to the journal (the host's and the libraries' alike) carry
// SYSLOG_IDENTIFIER=`applicationId`, so `journalctl -t <app id>` finds one app among others.
// Called on the main thread before other threads log.
void identifyAs(const std::string& applicationId);

} // namespace penwick::log
