#pragma once

#include <filesystem>
#include <fstream>
#include <glib.h>
#include <iterator>
#include <stdexcept>
#include <string>

namespace penwick::test {

// A fresh temporary folder, removed with its content when the object goes (kept when
// PENWICK_E2E_KEEP is set, to look at after a failure).
struct TempDir {
    explicit TempDir(const char* pattern = "penwick-test-XXXXXX")
    {
        g_autofree char* dir = g_dir_make_tmp(pattern, nullptr);
        if (!dir)
            throw std::runtime_error(std::string("cannot make a temporary folder ") + pattern);
        path = dir;
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!g_getenv("PENWICK_E2E_KEEP"))
            std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path;
};

// A file's bytes ("" when it cannot be read), and a file written whole.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void writeFile(const std::string& path, const std::string& contents) { std::ofstream(path, std::ios::binary) << contents; }

} // namespace penwick::test
