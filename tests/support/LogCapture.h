#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace penwick::test {

// Captures log lines for the life of the object (from any thread). One at a time: make it on the
// main thread while no other thread logs.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // How many captured lines are exactly `line`.
    size_t count(std::string_view line) const;
    bool contains(std::string_view line) const { return count(line) > 0; }
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace penwick::test
