// Resolution beneath opened roots, by the kernel and by the component walk, against a real tree.
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "base/BeneathResolver.h"
#include "support/TempDir.h"

namespace penwick::test {
namespace {

namespace fs = std::filesystem;

class BeneathResolverTest : public ::testing::TestWithParam<BeneathResolver::Walk> { };

TEST_P(BeneathResolverTest, FollowsLinksOnlyWithinTheRoots)
{
    TempDir tmp("penwick-beneath-XXXXXX");
    std::string root = tmp.path + "/root", other = tmp.path + "/other", outside = tmp.path + "/outside";
    for (const auto& [path, text] : { std::pair { "/root/f.txt", "in" }, { "/root/d/g.txt", "g" }, { "/other/o.txt", "o" },
             { "/outside/secret.txt", "secret" } }) {
        fs::create_directories(fs::path(tmp.path + path).parent_path());
        std::ofstream(tmp.path + path) << text;
    }
    // Links by where they lie under the temporary folder; a target starting with "/" is made absolute there.
    const std::pair<const char*, const char*> links[] = { { "root/inlink", "f.txt" }, { "root/absin", "/root/d" },
        { "root/chain1", "chain2" }, { "root/chain2", "d/g.txt" }, { "root/out", "/outside/secret.txt" }, { "root/outdir", "/outside" },
        { "root/d/up", "../outside/secret.txt" }, { "root/d/up2", "../../outside/secret.txt" }, { "root/loop1", "loop2" },
        { "root/loop2", "loop1" }, { "root/otherlink", "/other" }, { "other/back", "../root/f.txt" } };
    for (const auto& [link, target] : links)
        fs::create_symlink(target[0] == '/' ? tmp.path + target : std::string(target), tmp.path + "/" + link);
    // A hard link is the file itself wherever it lies: resolution has nothing to refuse.
    std::error_code noHardLinks;
    fs::create_hard_link(outside + "/secret.txt", root + "/hard", noHardLinks);

    BeneathResolver resolver({ root, other }, GetParam());
    // A path and what it opens to read, or the error it fails with.
    const struct { const char *path, *content; int error; } rows[] = {
        { "f.txt", "in", 0 }, { "/f.txt", "in", 0 }, { "inlink", "in", 0 }, { "absin/g.txt", "g", 0 },
        { "chain1", "g", 0 }, { "d/../f.txt", "in", 0 }, { "d/./g.txt", "g", 0 }, { "otherlink/o.txt", "o", 0 },
        { "otherlink/back", "in", 0 }, { "otherlink/../root/f.txt", "in", 0 },
        { "../outside/secret.txt", "", EXDEV }, { "out", "", EXDEV }, { "outdir/secret.txt", "", EXDEV },
        { "d/up", "", ENOENT }, { "d/up2", "", EXDEV }, { "loop1", "", ELOOP },
        { "d/g.txt/x", "", ENOTDIR }, { "missing/x", "", ENOENT }, { "missing", "", ENOENT },
    };
    for (const auto& row : rows) {
        auto fd = resolver.open(row.path, O_RDONLY);
        char text[64];
        const ssize_t n = fd ? pread(fd->get(), text, sizeof text, 0) : 0;
        EXPECT_EQ(std::pair(std::string(text, n > 0 ? n : 0), fd ? 0 : fd.error().code), std::pair(std::string(row.content), row.error))
            << row.path;
    }
    EXPECT_TRUE(noHardLinks || resolver.open("hard", O_RDONLY));

    // The item a change acts on: the link itself when kept, its target when followed (none outside); a
    // missing last name is given for creation.
    using enum BeneathResolver::LastLink;
    for (auto [path, last, name] : { std::tuple("inlink", Keep, "inlink"), { "chain1", Follow, "g.txt" }, { "out", Follow, "(none)" },
             { "d/new.txt", Follow, "new.txt" } }) {
        auto entry = resolver.entry(path, last);
        EXPECT_EQ(entry ? entry->name : "(none)", name) << path;
    }
    EXPECT_EQ(resolver.open("out", O_PATH, Keep).hasValue(), true);
}

INSTANTIATE_TEST_SUITE_P(Walks, BeneathResolverTest,
    ::testing::Values(BeneathResolver::Walk::Kernel, BeneathResolver::Walk::Components));

} // namespace
} // namespace penwick::test
