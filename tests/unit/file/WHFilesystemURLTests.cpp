#include <gtest/gtest.h>

#include "base/WHURL.h"
#include "plugins/file/WHFilesystemURL.h"

namespace penwick {
namespace {

using Opt = std::optional<std::string>;

TEST(WHFilesystemURL, NameAndFullPathFollowTheURLShape)
{
    const std::tuple<const char*, Opt, Opt> cases[] = {
        { "whfile://localhost/persistent/a/b.txt", "persistent", "/a/b.txt" },
        { "whfile://localhost/persistent", "persistent", "" },
        { "whfile://localhost/persistent/dir/", "persistent", "/dir" },
        { "whfile://localhost/persistent/a%20b/c.txt", "persistent", "/a b/c.txt" },
        { "whfile://localhost/persistent/a.txt?x=%20", "persistent", "/a.txt?x=%20" }, // the query stays as written
        { "whfile://localhost/persistent/%2e%2e%2F..%2fetc/passwd", "persistent", "/../../etc/passwd" },
        { "whfile://localhost/", std::nullopt, "" },
        { "whfile://otherhost/persistent/a", std::nullopt, std::nullopt },
        { "WHFILE://localhost/persistent/a", std::nullopt, std::nullopt },
        { "http://localhost/persistent/a", std::nullopt, std::nullopt },
        // A NUL or bytes that are not UTF-8 cannot name anything on disk.
        { "whfile://localhost/persistent/a%00b", std::nullopt, std::nullopt },
        { "whfile://localhost/persistent/%ff", std::nullopt, std::nullopt },
    };
    for (const auto& [text, name, fullPath] : cases) {
        auto u = WHFilesystemURL::fileSystemURLWithString(text);
        ASSERT_TRUE(u.url()) << text;
        EXPECT_EQ(u.url()->absoluteString(), text);
        EXPECT_EQ(u.fileSystemName(), name) << text;
        EXPECT_EQ(u.fullPath(), fullPath) << text;
    }
    EXPECT_EQ(WHFilesystemURL::fileSystemURLWithString("whfile://localhost/p/a%20b.txt").absoluteURL(), "whfile://localhost/p/a b.txt");
    for (const char* bad : { "whfile://localhost/persistent/a b", "whfile://localhost/p/%zz", "whfile://localhost/p/%4",
             "whfile://localhost/p/\"q\"", "whfile://localhost/p/\xc3\xa9", "whfile://localhost/p/a#b#c" }) {
        auto u = WHFilesystemURL::fileSystemURLWithString(bad);
        EXPECT_TRUE(!u.url() && !u.fileSystemName() && !u.fullPath()) << bad;
    }
}

TEST(WHURL, EscapedPathsRoundTripAndTheLastComponentKeepsTheQuery)
{
    auto file = WHURL::URLWithString("whfile://localhost/persistent/a/b.txt?v=1");
    EXPECT_EQ(file->URLByDeletingLastPathComponent().absoluteString(), "whfile://localhost/persistent/a/?v=1");
    const std::string path = "/a b/100% \"done\"/#1/\xc3\xa9t\xc3\xa9/x'y";
    auto escaped = WHURL::URLWithString("whfile://localhost/p" + WHURL::percentEscape(path, WHURL::EscapeSet::Path));
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->path(), "/p" + path);
    EXPECT_EQ(WHURL::percentEscape("/a?b", WHURL::EscapeSet::Path), "/a?b");
    EXPECT_EQ(WHURL::percentEscape("/a?b", WHURL::EscapeSet::FilePath), "/a%3Fb");
}

} // namespace
} // namespace penwick
