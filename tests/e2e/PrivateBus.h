#pragma once

#include <csignal>
#include <glib.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace penwick::e2e {

// A session bus of the test's own, for the life of the object.
struct PrivateBus {
    PrivateBus()
    {
        const char* argv[] = { "dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr };
        int out = -1;
        if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv), nullptr,
                GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDERR_TO_DEV_NULL), nullptr, nullptr, &pid,
                nullptr, &out, nullptr, nullptr))
            return;
        // The daemon prints its address once it listens.
        char c = 0;
        while (read(out, &c, 1) == 1 && c != '\n')
            address += c;
        close(out);
    }
    ~PrivateBus()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    GPid pid = -1;
    std::string address;
};

} // namespace penwick::e2e
