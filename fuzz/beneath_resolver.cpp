// A random tree of folders, files and links (inside, into the second root, out, absolute,
// relative, looping) and random paths through it: whatever the resolver opens, by either walk,
// lies in one of its roots, and both walks agree on whether a path resolves.
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <string>
#include <unistd.h>

#include "FuzzCheck.h"
#include "base/BeneathResolver.h"

namespace penwick::fuzz::beneath_resolver_target {

namespace fs = std::filesystem;

namespace {

const char* const kNames[] = { "a", "b", "c", "..", ".", "", "root", "other", "outside" };

std::string where(int fd)
{
    char buffer[4096];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

bool inside(const std::string& path, const std::string& folder)
{
    return path == folder || path.rfind(folder + "/", 0) == 0;
}

} // namespace

FUZZ_TARGET(beneath_resolver)
{
    static const std::string base = [] {
        g_autofree char* dir = g_dir_make_tmp("penwick-fuzz-beneath-XXXXXX", nullptr);
        return std::string(dir);
    }();
    std::error_code ignored;
    fs::remove_all(base + "/t", ignored);
    const std::string top = base + "/t", root = top + "/root", other = top + "/other", outside = top + "/outside";
    for (const auto& d : { root, other, outside })
        fs::create_directories(d);
    std::ofstream(outside + "/a") << "x";

    size_t i = 0;
    auto next = [&]() -> unsigned { return i < size ? data[i++] : 0; };
    auto name = [&]() { return std::string(kNames[next() % (sizeof kNames / sizeof *kNames)]); };
    auto pathOf = [&](unsigned parts) {
        std::string path;
        for (unsigned k = 0; k < parts; ++k)
            path += (k ? "/" : "") + name();
        return path;
    };
    // Items: a folder, a file or a link, at a path below one of the three folders.
    unsigned items = next() % 12;
    for (unsigned k = 0; k < items; ++k) {
        unsigned kind = next();
        const std::string& in = kind & 8 ? other : kind & 16 ? outside : root;
        std::string at = in + "/" + pathOf(1 + next() % 3);
        if (kind % 3 == 0) {
            fs::create_directories(at, ignored);
        } else if (kind % 3 == 1) {
            std::ofstream(at) << "x";
        } else {
            std::string target = kind & 32 ? top + "/" + pathOf(1 + next() % 3) : pathOf(1 + next() % 4);
            fs::create_symlink(target, at, ignored);
        }
    }

    BeneathResolver kernel({ root, other }, BeneathResolver::Walk::Kernel);
    BeneathResolver walk({ root, other }, BeneathResolver::Walk::Components);
    const std::string realRoot = fs::canonical(root).string(), realOther = fs::canonical(other).string();
    while (i < size) {
        std::string path = pathOf(1 + next() % 6);
        auto a = kernel.open(path, O_RDONLY | O_NONBLOCK);
        auto b = walk.open(path, O_RDONLY | O_NONBLOCK);
        for (const auto* fd : { &a, &b }) {
            if (*fd) {
                std::string at = where((*fd)->get());
                FUZZ_CHECK(inside(at, realRoot) || inside(at, realOther));
            }
        }
        FUZZ_CHECK(a.hasValue() == b.hasValue());
    }
    return 0;
}

} // namespace penwick::fuzz::beneath_resolver_target
