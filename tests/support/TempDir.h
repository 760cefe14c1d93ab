#pragma once

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sys/mount.h>

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

// A file's bytes ("" when it cannot be read: a /proc file fails when its process ends meanwhile),
// and a file written whole.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    try {
        return std::string(std::istreambuf_iterator<char>(in), {});
    } catch (const std::ios_base::failure&) {
        return {};
    }
}
inline void writeFile(const std::string& path, const std::string& contents) { std::ofstream(path, std::ios::binary) << contents; }

// A small tmpfs ("size=64k") mounted at `path` (made as needed) for the life of the object, to meet
// a full or read-only volume for real; `error` says why it is not there (mounting needs CAP_SYS_ADMIN).
struct Tmpfs {
    Tmpfs(const std::string& path, const char* options) : path(path)
    {
        std::filesystem::create_directories(path);
        error = mount("tmpfs", path.c_str(), "tmpfs", 0, options) == 0 ? "" : std::strerror(errno);
    }
    ~Tmpfs() { umount2(path.c_str(), MNT_DETACH); }
    // Write permission denied even to root, where chmod would not stop anyone.
    bool makeReadOnly() const { return mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
    const std::string path;
    std::string error;
};

} // namespace penwick::test
