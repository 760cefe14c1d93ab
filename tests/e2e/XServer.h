#pragma once

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "e2e/Child.h"

namespace penwick::e2e {

// An X server started by `command` (with "{fd}" where it names its display) for the life of the
// object; DISPLAY points at it meanwhile, for the app and the X tools alike.
class OwnDisplay {
public:
    explicit OwnDisplay(std::vector<std::string> command) : m_server(std::move(command))
    {
        const std::string number = m_server.firstLine();
        if (number.empty())
            return;
        m_previous = g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "";
        m_running = true;
        setenv("DISPLAY", (":" + number).c_str(), 1);
    }
    ~OwnDisplay()
    {
        if (m_running && !m_previous.empty())
            setenv("DISPLAY", m_previous.c_str(), 1);
        else if (m_running)
            unsetenv("DISPLAY");
    }
    bool running() const { return m_running; }

private:
    Child m_server;
    std::string m_previous;
    bool m_running = false;
};

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
        if (!m_xvfb->running())
            FAIL() << "Xvfb did not start";
    }
    void TearDown() override { m_xvfb.reset(); }

private:
    std::optional<OwnDisplay> m_xvfb;
};

// One per test binary, however many files include this.
inline ::testing::Environment* const kXServer = ::testing::AddGlobalTestEnvironment(new XServer);

} // namespace penwick::e2e
