#pragma once

#include <fstream>
#include <glib.h>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/glib/GpuProbe.h"

// Files the end-to-end benchmarks write for the app they start, and read back; starting it.
namespace penwick::bench {

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& content)
{
    std::unique_ptr<char, decltype(&g_free)> dir(g_path_get_dirname(path.c_str()), g_free);
    g_mkdir_with_parents(dir.get(), 0700);
    std::ofstream(path, std::ios::binary) << content;
}

// In a forked child: adds `environment` ("NAME=value") and runs `argv` (its first item a path).
[[noreturn]] inline void execInChild(const std::vector<std::string>& environment, const std::vector<std::string>& argv)
{
    for (const auto& e : environment)
        putenv(strdup(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// The app's painting policy, so the bare host can follow it: without a GPU pages paint on the
// CPU; with one, the engine's default.
using penwick::platform::machineHasGpu;
inline const char* paintingPolicy() { return machineHasGpu() ? "both the engine's default (a GPU is present)" : "both painting on the CPU (no GPU)"; }

} // namespace penwick::bench
