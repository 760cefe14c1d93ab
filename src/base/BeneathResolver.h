#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/FileDescriptor.h"
#include "base/Result.h"

namespace penwick {

// Resolves paths beneath opened root folders, so that nothing a link swapped in could redirect
// is ever followed out of them. The roots are opened once, as folders, and every path is walked
// from a root's descriptor: by the kernel (openat2 with RESOLVE_BENEATH, no magic links), or,
// where it cannot or where a link leads into another of the roots, one component at a time with
// O_NOFOLLOW, reading each link and going on from the root it leads into. A link that leads out
// of every root, or a ".." that climbs out of them, fails with EXDEV; more than 40 links, ELOOP.
// Callers then act on the descriptors (…at calls), never on the path again.
//
// Thread-safe: roots that did not exist yet are opened on first use, under a lock.
class BeneathResolver {
public:
    enum class Walk { Kernel, Components };
    enum class LastLink { Follow, Keep };

    // roots[0] is the root paths are taken in; links may lead into any of them. `Components`
    // forces the component walk (as on kernels without openat2).
    explicit BeneathResolver(std::vector<std::string> roots, Walk walk = Walk::Kernel);

    // The folder holding an item and the item's name in it (never a link when following): what
    // …at calls act on. The root itself is ("." in the root). The item need not exist.
    struct Entry {
        FileDescriptor folder;
        std::string name;
    };
    Result<Entry> entry(std::string_view path, LastLink last = LastLink::Follow) const;
    // Opens the item (flags as for openat; O_NOFOLLOW is added for the last component once its
    // links are followed, so a link swapped in meanwhile fails the open with ELOOP).
    Result<FileDescriptor> open(std::string_view path, int flags, LastLink last = LastLink::Follow, unsigned mode = 0) const;
    // The own root's folder descriptor (O_PATH), or -1 while it cannot be opened.
    int rootFolder() const;
    // The own root, every link in it resolved; empty while it cannot be opened.
    std::string rootPath() const;

private:
    struct Root {
        std::string configured;
        std::string path; // resolved, empty until opened
        FileDescriptor folder;
    };
    struct OpenRoot {
        std::string path;
        int folder;
    };
    // The roots opened so far (the own root first, -1 while missing); opens those that were not.
    std::vector<OpenRoot> roots() const;
    Result<Entry> walk(const std::vector<OpenRoot>& roots, std::string_view path, LastLink last) const;

    mutable std::mutex m_lock;
    mutable std::vector<Root> m_roots;
    Walk m_walk;
};

} // namespace penwick
