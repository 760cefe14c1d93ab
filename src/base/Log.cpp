#include "base/Log.h"

#include <glib.h>

namespace penwick::log {
namespace {
Sink& sink()
{
    static Sink s_sink;
    return s_sink;
}

void emit(GLogLevelFlags level, std::string_view line)
{
    if (auto& s = sink()) {
        s(line);
        return;
    }
    std::string text(line);
    g_log_structured(kDomain, level, "MESSAGE", "%s", text.c_str());
}
} // namespace

void message(std::string_view line) { emit(G_LOG_LEVEL_MESSAGE, line); }
void warning(std::string_view line) { emit(G_LOG_LEVEL_WARNING, line); }
void setSinkForTesting(Sink s) { sink() = std::move(s); }

} // namespace penwick::log
