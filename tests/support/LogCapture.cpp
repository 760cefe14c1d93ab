#include "support/LogCapture.h"

#include "base/Log.h"

namespace penwick::test {

LogCapture::LogCapture()
{
    log::setSinkForTesting([this](std::string_view line) {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    });
}

LogCapture::~LogCapture() { log::setSinkForTesting(nullptr); }

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

size_t LogCapture::count(std::string_view line) const
{
    std::lock_guard lock(m_mutex);
    size_t n = 0;
    for (const auto& l : m_lines)
        n += l == line;
    return n;
}

void LogCapture::clear()
{
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

} // namespace penwick::test
