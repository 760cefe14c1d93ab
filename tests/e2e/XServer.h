#pragma once

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "e2e/Child.h"

namespace penwick::e2e {

// An Xvfb of the test process's own when it has no display: CTest runs each test in a process of
// its own, so tests run side by side without sharing pointer, focus or windows. A display or a
// Wayland compositor given from outside is used as it is.
class XServer final : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (g_getenv("DISPLAY") || g_getenv("WAYLAND_DISPLAY"))
            return;
        // -displayfd: the server picks a free display and names it once it accepts clients.
        // -noreset: otherwise it resets whenever its last client leaves, and an app starting
        // during that reset cannot open the display.
        m_xvfb.emplace(std::vector<std::string> { "Xvfb", "-displayfd", "{fd}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset" });
        const std::string number = m_xvfb->firstLine();
        if (number.empty())
            FAIL() << "Xvfb did not start";
        setenv("DISPLAY", (":" + number).c_str(), 1);
    }
    void TearDown() override
    {
        if (m_xvfb) {
            unsetenv("DISPLAY");
            m_xvfb.reset();
        }
    }

private:
    std::optional<Child> m_xvfb;
};

// One per test binary, however many files include this.
inline ::testing::Environment* const kXServer = ::testing::AddGlobalTestEnvironment(new XServer);

} // namespace penwick::e2e
