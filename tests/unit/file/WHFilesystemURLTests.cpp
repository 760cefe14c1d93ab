#include <gtest/gtest.h>

#include "plugins/file/WHFilesystemURL.h"
#include "base/WHURL.h"

namespace penwick {
namespace {

struct Expected {
    const char* url;
    std::optional<std::string> name;
    std::optional<std::string> fullPath;
};

TEST(WHFilesystemURL, NameAndFullPathFollowTheURLShape)
{
    const Expected cases[] = {
        { "whfile://localhost/persistent/a/b.txt", "persistent", "/a/b.txt" },
        { "whfile://localhost/persistent", "persistent", "" },
        { "whfile://localhost/persistent/", "persistent", "" },
        { "whfile://localhost/persistent/dir/", "persistent", "/dir" },
        { "whfile://localhost/persistent/a%20b/c.txt", "persistent", "/a b/c.txt" },
        { "whfile://localhost/temporary/x.txt?v=1", "temporary", "/x.txt?v=1" },
        // The query stays as written, escapes and all.
        { "whfile://localhost/persistent/a.txt?x=%20", "persistent", "/a.txt?x=%20" },
        { "whfile://localhost/", std::nullopt, "" },
        { "whfile://localhost", std::nullopt, "" },
        { "whfile://otherhost/persistent/a", std::nullopt, std::nullopt },
        { "WHFILE://localhost/persistent/a", std::nullopt, std::nullopt },
        { "file:///tmp/a.txt", std::nullopt, std::nullopt },
        { "http://localhost/persistent/a", std::nullopt, std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        auto u = WHFilesystemURL::fileSystemURLWithString(c.url);
        ASSERT_TRUE(u.url());
        EXPECT_EQ(u.url()->absoluteString(), c.url);
        EXPECT_EQ(u.fileSystemName(), c.name);
        EXPECT_EQ(u.fullPath(), c.fullPath);
    }
}

TEST(WHFilesystemURL, StringsThatAreNoURLsGiveNothing)
{
    for (const char* bad : { "whfile://localhost/persistent/a b", "whfile://localhost/p/%zz", "whfile://localhost/p/%4",
             "whfile://localhost/p/\"q\"", "whfile://localhost/p/\xc3\xa9", "whfile://localhost/p/a#b#c" }) {
        SCOPED_TRACE(bad);
        auto u = WHFilesystemURL::fileSystemURLWithString(bad);
        EXPECT_FALSE(u.url());
        EXPECT_FALSE(u.fileSystemName());
        EXPECT_FALSE(u.fullPath());
    }
}

TEST(WHFilesystemURL, EscapesThatDecodeToNoTextNameNoPath)
{
    // A NUL or bytes that are not UTF-8 cannot name anything on disk.
    for (const char* s : { "whfile://localhost/persistent/a%00b", "whfile://localhost/persistent/%ff" }) {
        SCOPED_TRACE(s);
        auto u = WHFilesystemURL::fileSystemURLWithString(s);
        EXPECT_TRUE(u.url());
        EXPECT_FALSE(u.fullPath());
        EXPECT_FALSE(u.fileSystemName());
    }
}

TEST(WHFilesystemURL, EncodedSlashesAndDotsAreDecodedBeforeSplitting)
{
    auto u = WHFilesystemURL::fileSystemURLWithString("whfile://localhost/persistent/%2e%2e%2F..%2fetc/passwd");
    EXPECT_EQ(u.fileSystemName(), "persistent");
    EXPECT_EQ(u.fullPath(), "/../../etc/passwd");
}

TEST(WHFilesystemURL, AbsoluteURLIsUnescaped)
{
    auto u = WHFilesystemURL::fileSystemURLWithString("whfile://localhost/persistent/a%20b.txt");
    EXPECT_EQ(u.absoluteURL(), "whfile://localhost/persistent/a b.txt");
}

TEST(WHURL, PartsOfAURL)
{
    auto u = WHURL::URLWithString("http://user@Example.org:8080/a/%41b/?q=1&r=%20#frag");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->scheme(), "http");
    EXPECT_EQ(u->host(), "Example.org");
    EXPECT_EQ(u->rawPath(), "/a/%41b/");
    EXPECT_EQ(u->path(), "/a/Ab");
    EXPECT_EQ(u->query(), "q=1&r=%20");
    EXPECT_EQ(u->pathComponents(), (std::vector<std::string> { "/", "a", "Ab" }));

    auto relative = WHURL::URLWithString("notes/a.txt");
    ASSERT_TRUE(relative);
    EXPECT_FALSE(relative->scheme());
    EXPECT_FALSE(relative->host());
}

TEST(WHURL, DeletingTheLastComponentKeepsAuthorityAndQuery)
{
    auto u = WHURL::URLWithString("whfile://localhost/persistent/a/b.txt?v=1");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->URLByDeletingLastPathComponent().absoluteString(), "whfile://localhost/persistent/a/?v=1");
    auto dir = WHURL::URLWithString("whfile://localhost/persistent/a/");
    EXPECT_EQ(dir->URLByDeletingLastPathComponent().absoluteString(), "whfile://localhost/persistent/");
}

TEST(WHURL, EscapingRoundTripsThroughParsing)
{
    const std::string path = "/a b/100% \"done\"/#1/\xc3\xa9t\xc3\xa9/x'y";
    std::string escaped = WHURL::percentEscape(path, WHURL::EscapeSet::Path);
    auto u = WHURL::URLWithString("whfile://localhost/p" + escaped);
    ASSERT_TRUE(u) << escaped;
    EXPECT_EQ(u->path(), "/p" + path);
    EXPECT_EQ(WHURL::percentEscape("/a?b", WHURL::EscapeSet::Path), "/a?b");
    EXPECT_EQ(WHURL::percentEscape("/a?b", WHURL::EscapeSet::FilePath), "/a%3Fb");
}

} // namespace
} // namespace penwick
