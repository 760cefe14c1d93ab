#pragma once

#include <csignal>
#include <glib.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace penwick::e2e {

// A program running quietly for the life of the object.
struct Child {
    explicit Child(std::vector<std::string> argv, GSpawnFlags extra = GSpawnFlags(0))
    {
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        auto flags = GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL | extra);
        if (!g_spawn_async(nullptr, cargv.data(), nullptr, flags, nullptr, nullptr, &pid, nullptr))
            pid = -1;
    }
    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    GPid pid = -1;
};

} // namespace penwick::e2e
