#pragma once

#include <fstream>
#include <glib.h>
#include <memory>
#include <sstream>
#include <string>

// Files the end-to-end benchmarks write for the app they start, and read back.
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

} // namespace penwick::bench
