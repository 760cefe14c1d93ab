#pragma once

#include <csignal>
#include <fcntl.h>
#include <glib.h>
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

} // namespace penwick::e2e
