#pragma once

#include <filesystem>
#include <glib.h>
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

} // namespace penwick::test
