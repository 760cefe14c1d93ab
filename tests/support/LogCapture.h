#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/Log.h"

namespace penwick::test {

// Captures log lines for the life of the object (from any thread). One at a time: make it on the
// main thread while no other thread logs.
class LogCapture {
public:
    LogCapture()
    {
        log::setSinkForTesting([this](std::string_view line) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(line);
        });
    }
    ~LogCapture() { log::setSinkForTesting(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    // How many captured lines are exactly `line`.
    size_t count(std::string_view line) const
    {
        auto all = lines();
        return std::count(all.begin(), all.end(), line);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace penwick::test
