#pragma once

// Programs a test runs beside the app, and the X server each test binary has of its own.
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace penwick::e2e {

// A program running quietly for the life of the object. An argument "{fd}" names a pipe the program
// may write to (its descriptor 3); firstLine() reads from it.
struct Child {
    explicit Child(std::vector<std::string> argv)
    {
        int fds[2] = { -1, -1 };
        std::vector<char*> cargv;
        for (auto& a : argv) {
            // The first "{fd}" makes the pipe.
            if (auto at = a.find("{fd}"); at != std::string::npos && (fds[1] >= 0 || pipe2(fds, O_CLOEXEC) == 0))
                a.replace(at, 4, "3");
            cargv.push_back(a.data());
        }
        cargv.push_back(nullptr);
        const int source[] = { fds[1] }, target[] = { 3 };
        auto flags = GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
        // It goes with the test, even one killed at its time-out.
        auto dieWithParent = [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); };
        if (!g_spawn_async_with_pipes_and_fds(nullptr, cargv.data(), nullptr, flags, dieWithParent, nullptr, -1, -1, -1, source, target,
                fds[1] >= 0 ? 1 : 0, &pid, nullptr, nullptr, nullptr, nullptr))
            pid = -1;
        if (fds[1] >= 0)
            close(fds[1]);
        m_out = fds[0];
    }
    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }

    // The first line the program wrote to "{fd}", waiting up to 10 s for each byte; "" if none.
    std::string firstLine() const
    {
        std::string line;
        pollfd wait { m_out, POLLIN, 0 };
        char c;
        while (m_out >= 0 && poll(&wait, 1, 10000) > 0 && read(m_out, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    GPid pid = -1;

private:
    int m_out = -1;
};

// An X server started by `command` (with "{fd}" where it names its display) for the life of the
// object; DISPLAY points at it meanwhile, for the app and the X tools alike.
class OwnDisplay {
public:
    explicit OwnDisplay(std::vector<std::string> command) : m_server(std::move(command))
    {
        if (const std::string number = m_server.firstLine(); !number.empty()) {
            m_previous = g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "";
            setenv("DISPLAY", (":" + number).c_str(), 1);
        }
    }
    ~OwnDisplay()
    {
        if (m_previous && !m_previous->empty())
            setenv("DISPLAY", m_previous->c_str(), 1);
        else if (m_previous)
            unsetenv("DISPLAY");
    }
    bool running() const { return m_previous.has_value(); }

private:
    Child m_server;
    // DISPLAY as it was, once this server runs.
    std::optional<std::string> m_previous;
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
