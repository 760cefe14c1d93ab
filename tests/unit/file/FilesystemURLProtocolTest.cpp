// Which file a whfile URL the engine loads names: escapes are names ("%3F" and "%23" stay in the
// file name), the query and fragment are not, and nothing maps outside the file system's root.
#include <gtest/gtest.h>

#include "plugins/file/WHFilesystemURLProtocol.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick::test {
namespace {

TEST(FilesystemURLProtocol, EscapesAreNamesAndQueriesAndFragmentsAreNot)
{
    // No name: no target; no local path: nothing on disk.
    const struct { const char *url, *name, *path, *local; } cases[] = {
        { "whfile://localhost/p/a%3Fb%23c.txt?v=1#top", "p", "/a?b#c.txt", "/srv/r/a?b#c.txt" },
        { "whfile://localhost/p/a.txt?x=/../../etc", "p", "/a.txt", "/srv/r/a.txt" },
        { "whfile://localhost/p/dir/", "p", "/dir", "/srv/r/dir" },
        { "whfile://localhost/p", "p", "", "/srv/r" },
        { "whfile://localhost/p/%2e%2e/x", "p", "/../x", nullptr },
        { "whfile://localhost/p/a%2F..%2F..%2Fx", "p", "/a/../../x", nullptr },
        { "whfile://localhost/", nullptr, nullptr, nullptr },
        { "whfile://localhost/p/a%00b", nullptr, nullptr, nullptr },
        { "whfile://elsewhere/p/a", nullptr, nullptr, nullptr },
        { "whfilex://localhost/p/a", nullptr, nullptr, nullptr },
    };
    WHLocalFilesystem fileSystem("p", "/srv/r");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        auto target = WHFilesystemURLProtocol::targetOfURL(c.url);
        ASSERT_EQ(target.has_value(), c.name != nullptr);
        if (!target)
            continue;
        EXPECT_EQ(target->fileSystemName, c.name);
        EXPECT_EQ(target->path, c.path);
        auto local = fileSystem.filesystemPathForPath(target->path);
        EXPECT_EQ(local, c.local ? std::optional<std::string>(c.local) : std::nullopt);
    }
}

} // namespace
} // namespace penwick::test
