#include "FileTestSupport.h"

#include <algorithm>
#include <sys/stat.h>
#include <utime.h>

namespace penwick::test {
namespace {

using Remove = LocalFilesystemTest;

TEST_F(Remove, RefusesNonEmptyDirectoriesUnlessRecursive)
{
    std::filesystem::create_directories(local("empty"));
    EXPECT_EQ(m_fs->removeFileAtURL(url("/empty")).status(), 1);
    EXPECT_FALSE(exists(local("empty")));

    std::filesystem::create_directories(local("full"));
    writeFile(local("full/.hidden"), "h");
    auto refused = m_fs->removeFileAtURL(url("/full"));
    EXPECT_EQ(refused.status(), 6);
    EXPECT_EQ(errorOf(refused), fileErrorCode(FileError::INVALID_MODIFICATION_ERR));
    EXPECT_TRUE(exists(local("full/.hidden")));

    auto removed = m_fs->recursiveRemoveFileAtURL(url("/full"));
    EXPECT_EQ(removed.status(), 1);
    EXPECT_FALSE(removed.message());
    EXPECT_FALSE(exists(local("full")));
}

TEST_F(Remove, MissingItemsAndLinks)
{
    EXPECT_EQ(errorOf(m_fs->removeFileAtURL(url("/nope"))), 1);
    std::vector<std::string> lines;
    log::setSinkForTesting([&](std::string_view l) { lines.emplace_back(l); });
    auto r = m_fs->recursiveRemoveFileAtURL(url("/nope"));
    log::setSinkForTesting(nullptr);
    EXPECT_EQ(errorOf(r), 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "error removing filesystem entry at " + local("nope") + ": No such file or directory");

    // A link to a directory outside is removed as a link; what it points at stays.
    std::filesystem::create_directory_symlink(m_outside, local("link"));
    EXPECT_EQ(m_fs->recursiveRemoveFileAtURL(url("/link")).status(), 1);
    EXPECT_FALSE(exists(local("link")));
    EXPECT_EQ(readFile(m_outside + "/secret.txt"), "secret");
}

using List = LocalFilesystemTest;

TEST_F(List, EntriesOfADirectory)
{
    std::filesystem::create_directories(local("d/sub"));
    writeFile(local("d/a.txt"), "a");
    writeFile(local("d/.h"), "h");
    auto r = m_fs->readEntriesAtURL(url("/d"));
    ASSERT_EQ(r.status(), 1);
    auto entries = r.message()->get<std::vector<Value>>();
    ASSERT_EQ(entries.size(), 3u);
    std::sort(entries.begin(), entries.end(), [](const Value& a, const Value& b) { return a["name"] < b["name"]; });
    EXPECT_EQ(entries[0]["fullPath"], "/d/.h");
    EXPECT_EQ(entries[1]["fullPath"], "/d/a.txt");
    EXPECT_EQ(entries[2]["fullPath"], "/d/sub/");
    EXPECT_EQ(entries[2]["isDirectory"], true);
    EXPECT_EQ(entries[2]["nativeURL"], "file://" + local("d/sub/"));

    std::filesystem::create_directories(local("e"));
    EXPECT_TRUE(m_fs->readEntriesAtURL(url("/e")).message()->empty());
    EXPECT_EQ(errorOf(m_fs->readEntriesAtURL(url("/missing"))), 1);
    EXPECT_EQ(errorOf(m_fs->readEntriesAtURL(url("/d/a.txt"))), 1);
}

TEST_F(List, RootFileSystemGivesPathsWithoutLeadingSlash)
{
    WHLocalFilesystem rootFs("root", "/");
    auto r = rootFs.readEntriesAtURL(WHFilesystemURL::fileSystemURLWithString("whfile://localhost/root/"));
    ASSERT_EQ(r.status(), 1);
    bool sawEtc = false;
    for (const auto& e : *r.message()) {
        if (e["name"] == "etc") {
            sawEtc = true;
            EXPECT_EQ(e["fullPath"], "etc/");
            EXPECT_EQ(e["nativeURL"], "file:///etc/");
        }
    }
    EXPECT_TRUE(sawEtc);
}

using TruncateWrite = LocalFilesystemTest;

TEST_F(TruncateWrite, Truncate)
{
    EXPECT_EQ(m_fs->truncateFileAtURL(url("/missing"), 4).message()->get<int>(), 0);
    EXPECT_FALSE(exists(local("missing")));
    writeFile(local("ten"), "0123456789");
    auto r = m_fs->truncateFileAtURL(url("/ten"), 4);
    EXPECT_EQ(r.status(), 1);
    EXPECT_EQ(r.message()->get<int>(), 4);
    EXPECT_EQ(readFile(local("ten")), "0123");
    EXPECT_EQ(m_fs->truncateFileAtURL(url("/ten"), 6).message()->get<int>(), 6);
    EXPECT_EQ(readFile(local("ten")), std::string("0123\0\0", 6));
}

TEST_F(TruncateWrite, Write)
{
    auto empty = m_fs->writeToFileAtURL(url("/new"), {}, WriteMode::Replace);
    EXPECT_EQ(empty.status(), 1);
    EXPECT_TRUE(empty.message()->is_number_float());
    EXPECT_FALSE(exists(local("new")));
    writeFile(local("old"), "old content");
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/old"), {}, WriteMode::Replace).status(), 1);
    EXPECT_EQ(readFile(local("old")), "old content");

    auto replaced = m_fs->writeToFileAtURL(url("/old"), bytesOf("12345"), WriteMode::Replace);
    EXPECT_EQ(replaced.status(), 1);
    EXPECT_EQ(replaced.message()->get<int>(), 5);
    EXPECT_EQ(readFile(local("old")), "12345");
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/old"), bytesOf("67890"), WriteMode::Append).message()->get<int>(), 5);
    EXPECT_EQ(readFile(local("old")), "1234567890");
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/created?v=1"), bytesOf("x"), WriteMode::Append).status(), 1);
    EXPECT_EQ(readFile(local("created")), "x");

    std::filesystem::create_directories(local("dir"));
    auto failed = m_fs->writeToFileAtURL(url("/dir"), bytesOf("x"), WriteMode::Replace);
    EXPECT_EQ(failed.status(), 9);
    EXPECT_EQ(errorOf(failed), fileErrorCode(FileError::INVALID_MODIFICATION_ERR));
    EXPECT_EQ(errorOf(m_fs->writeToFileAtURL(url("/nodir/x"), bytesOf("x"), WriteMode::Replace)), 9);
    // A FIFO without a reader fails at once instead of holding the writer.
    ASSERT_EQ(mkfifo(local("fifo").c_str(), 0600), 0);
    EXPECT_EQ(errorOf(m_fs->writeToFileAtURL(url("/fifo"), bytesOf("x"), WriteMode::Append)), 9);
    EXPECT_EQ(errorOf(m_fs->writeToFileAtURL(url("/fifo"), bytesOf("x"), WriteMode::Replace)), 9);
}

TEST_F(TruncateWrite, ReplacingKeepsPermissionsAndLinks)
{
    namespace fs = std::filesystem;
    writeFile(local("private.txt"), "old");
    fs::permissions(local("private.txt"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("private.txt", local("link.txt"));

    EXPECT_EQ(m_fs->writeToFileAtURL(url("/link.txt"), bytesOf("new"), WriteMode::Replace).status(), 1);
    EXPECT_TRUE(fs::is_symlink(local("link.txt")));
    EXPECT_EQ(readFile(local("private.txt")), "new");
    EXPECT_EQ(fs::status(local("private.txt")).permissions() & fs::perms::all,
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

using CopyMove = LocalFilesystemTest;

TEST_F(CopyMove, CopyRefusals)
{
    writeFile(local("a.txt"), "a");
    writeFile(local("b.txt"), "b");
    EXPECT_EQ(errorOf(copy("/", "a.txt", "/a.txt", TransferMode::Copy)), fileErrorCode(FileError::INVALID_MODIFICATION_ERR));
    EXPECT_EQ(errorOf(copy("/", "b.txt", "/a.txt", TransferMode::Copy)), fileErrorCode(FileError::PATH_EXISTS_ERR));
    EXPECT_EQ(readFile(local("b.txt")), "b");
    EXPECT_EQ(errorOf(copy("/nodir", "c.txt", "/a.txt", TransferMode::Copy)), 1);
    EXPECT_EQ(errorOf(copy("/", "c.txt", "/none.txt", TransferMode::Copy)), 1);

    std::filesystem::create_directories(local("d/sub"));
    writeFile(local("d/f"), "f");
    EXPECT_EQ(errorOf(copy("/d/sub", "d", "/d", TransferMode::Copy)), 9);
    EXPECT_EQ(errorOf(copy("/", "a.txt", "/d", TransferMode::Copy)), 9); // directory onto a file
    // "//" spells the same directory; the copy must still be refused, not recurse into itself.
    EXPECT_EQ(errorOf(copy("//d/sub", "d", "/d", TransferMode::Copy)), 9);
    EXPECT_FALSE(exists(local("d/sub/d")));
}

TEST_F(CopyMove, CopiesFilesAndTrees)
{
    std::filesystem::create_directories(local("d/sub"));
    writeFile(local("d/f"), "f");
    writeFile(local("d/sub/g"), "g");
    std::filesystem::create_symlink("f", local("d/link"));
    auto r = copy("/", "d-old", "/d", TransferMode::Copy);
    ASSERT_EQ(r.status(), 1);
    EXPECT_EQ((*r.message())["fullPath"], "/d-old/");
    EXPECT_EQ((*r.message())["isDirectory"], true);
    EXPECT_EQ(readFile(local("d-old/f")), "f");
    EXPECT_EQ(readFile(local("d-old/sub/g")), "g");
    EXPECT_TRUE(std::filesystem::is_symlink(local("d-old/link")));
    EXPECT_EQ(readFile(local("d/f")), "f");

    auto file = copy("/d", "copy of f", "/d/f", TransferMode::Copy);
    ASSERT_EQ(file.status(), 1);
    EXPECT_EQ((*file.message())["fullPath"], "/d/copy of f");
    EXPECT_EQ(readFile(local("d/copy of f")), "f");
}

TEST_F(CopyMove, MoveRules)
{
    writeFile(local("a.txt"), "a");
    std::filesystem::create_directories(local("emptydir"));
    EXPECT_EQ(errorOf(copy("/", "emptydir", "/a.txt", TransferMode::Move)), 9); // file onto a directory
    EXPECT_TRUE(exists(local("a.txt")));

    std::filesystem::create_directories(local("src"));
    writeFile(local("src/x"), "x");
    auto replaced = copy("/", "emptydir", "/src", TransferMode::Move);
    ASSERT_EQ(replaced.status(), 1);
    EXPECT_EQ(readFile(local("emptydir/x")), "x");
    EXPECT_FALSE(exists(local("src")));

    std::filesystem::create_directories(local("src2"));
    EXPECT_EQ(errorOf(copy("/", "emptydir", "/src2", TransferMode::Move)), 9); // onto a non-empty directory
    EXPECT_EQ(errorOf(copy("/src2", "inner", "/src2", TransferMode::Move)), 9); // into itself

    writeFile(local("b.txt"), "b");
    auto over = copy("/", "b.txt", "/a.txt", TransferMode::Move);
    ASSERT_EQ(over.status(), 1);
    EXPECT_EQ(readFile(local("b.txt")), "a");
    EXPECT_FALSE(exists(local("a.txt")));
}

TEST_F(CopyMove, OtherSpellingOfTheSourceIsNotRemoved)
{
    // "/./a.txt" is the source itself: a move must not remove it as the item in the way.
    writeFile(local("a.txt"), "precious");
    EXPECT_EQ(errorOf(copy("/.", "a.txt", "/a.txt", TransferMode::Move)), 9);
    EXPECT_EQ(readFile(local("a.txt")), "precious");
}

TEST_F(CopyMove, TheRootDoesNotMove)
{
    WHLocalFilesystem other("other", m_outside);
    std::optional<WHPluginResult> answer;
    other.copyFileToURL(WHFilesystemURL::fileSystemURLWithString("whfile://localhost/other/"), "moved", *m_fs, url(""),
        TransferMode::Move, [&](WHPluginResult r) { answer = std::move(r); });
    EXPECT_EQ(errorOf(*answer), fileErrorCode(FileError::NO_MODIFICATION_ALLOWED_ERR));
    EXPECT_TRUE(std::filesystem::is_directory(m_root));
}

// A file system of another kind: reads through the interface only.
class ForeignFileSystem final : public WHFileSystem {
public:
    std::optional<Bytes> content;
    WHPluginResult entryForLocalURI(const WHFilesystemURL&) override { return {}; }
    WHPluginResult getFileForURL(const WHFilesystemURL&, const std::optional<std::string>&, const Value&) override { return {}; }
    WHPluginResult getParentForURL(const WHFilesystemURL&) override { return {}; }
    WHPluginResult setMetadataForURL(const WHFilesystemURL&, const Value&) override { return {}; }
    WHPluginResult removeFileAtURL(const WHFilesystemURL&) override { return {}; }
    WHPluginResult recursiveRemoveFileAtURL(const WHFilesystemURL&) override { return {}; }
    WHPluginResult readEntriesAtURL(const WHFilesystemURL&) override { return {}; }
    WHPluginResult truncateFileAtURL(const WHFilesystemURL&, std::uint64_t) override { return {}; }
    WHPluginResult writeToFileAtURL(const WHFilesystemURL&, const Bytes&, WriteMode) override { return {}; }
    void copyFileToURL(const WHFilesystemURL&, const std::string&, WHFileSystem&, const WHFilesystemURL&, TransferMode, ResultCallback) override { }
    void readFileAtURL(const WHFilesystemURL&, std::int64_t, std::int64_t, ReadCallback cb) override
    {
        cb(content, "text/plain", content ? FileError::NoError : FileError::NOT_READABLE_ERR);
    }
    void getFileMetadataForURL(const WHFilesystemURL&, ResultCallback) override { }
    std::optional<ValueObject> makeEntryForLocalURL(const WHFilesystemURL&) override { return std::nullopt; }
    ValueObject makeEntryForPath(const std::string&, EntryKind) override { return {}; }
    const std::string& name() const override { return m_name; }
    void setName(std::string n) override { m_name = std::move(n); }
    const URLTransformer& urlTransformer() const override { return m_t; }
    void setUrlTransformer(URLTransformer t) override { m_t = std::move(t); }

private:
    std::string m_name = "foreign";
    URLTransformer m_t;
};

TEST_F(CopyMove, FromAnotherKindOfFileSystem)
{
    ForeignFileSystem foreign;
    auto source = WHFilesystemURL::fileSystemURLWithString("whfile://localhost/foreign/x");
    writeFile(local("in.txt"), "old");
    std::vector<WHPluginResult> answers;
    foreign.content = bytesOf("new");
    m_fs->copyFileToURL(url(""), "in.txt", foreign, source, TransferMode::Move, [&](WHPluginResult r) { answers.push_back(r); });
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].status(), 1);
    EXPECT_EQ((*answers[0].message())["fullPath"], "/in.txt");
    EXPECT_EQ(readFile(local("in.txt")), "new");

    foreign.content.reset();
    m_fs->copyFileToURL(url(""), "other.txt", foreign, source, TransferMode::Copy, [&](WHPluginResult r) { answers.push_back(r); });
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(errorOf(answers[1]), fileErrorCode(FileError::NOT_READABLE_ERR));
    EXPECT_FALSE(exists(local("other.txt")));
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_root), {}), 1);
}

using Read = LocalFilesystemTest;

TEST_F(Read, ByteRanges)
{
    writeFile(local("abc.txt"), "abcdefg");
    auto u = url("/abc.txt");
    EXPECT_EQ(read(u, 2, 5).text(), "cde");
    EXPECT_EQ(read(u, 2, -1).text(), "cdefg");
    EXPECT_EQ(read(u, 0, -1).text(), "abcdefg");
    EXPECT_EQ(read(u, 5, 100).text(), "fg");
    EXPECT_EQ(read(u, 5, 3).text(), "");
    auto past = read(u, 10, -1);
    EXPECT_EQ(past.text(), "");
    EXPECT_EQ(past.error, FileError::NoError);
    EXPECT_EQ(past.calls, 1);
    EXPECT_EQ(read(u, 0, INT64_MAX).text(), "abcdefg");

    writeFile(local("empty"), "");
    auto empty = read(url("/empty"), 0, -1);
    ASSERT_TRUE(empty.bytes);
    EXPECT_TRUE(empty.bytes->empty());
    EXPECT_EQ(empty.error, FileError::NoError);

    auto missing = read(url("/missing.txt"), 0, -1);
    EXPECT_FALSE(missing.bytes);
    EXPECT_EQ(missing.error, FileError::NOT_FOUND_ERR);
    EXPECT_EQ(missing.mimeType, "text/plain");
}

TEST_F(Read, ThingsThatAreNoFilesFailCleanly)
{
    std::filesystem::create_directories(local("dir"));
    auto dir = read(url("/dir"), 0, -1);
    EXPECT_FALSE(dir.bytes);
    EXPECT_EQ(dir.error, FileError::NOT_FOUND_ERR);
    EXPECT_EQ(dir.calls, 1);

    // A FIFO would block a plain open; it must fail at once instead.
    ASSERT_EQ(mkfifo(local("fifo").c_str(), 0600), 0);
    auto fifo = read(url("/fifo"), 0, -1);
    EXPECT_FALSE(fifo.bytes);
    EXPECT_EQ(fifo.error, FileError::NOT_FOUND_ERR);
}

TEST_F(Read, MimeTypes)
{
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/style.css"), "text/css");
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/index.html"), "text/html");
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/p.png"), "image/png");
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/x.wavx"), "audio/wav");
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/x.zzcssq"), "text/css");
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/x.qqqunknown"), std::nullopt);
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/noextension"), std::nullopt);
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath(std::nullopt), std::nullopt);

    writeFile(local("data.qqqunknown"), "x");
    EXPECT_EQ(read(url("/data.qqqunknown"), 0, -1).mimeType, "*/*");
}

using Metadata = LocalFilesystemTest;

TEST_F(Metadata, OfFilesAndDirectories)
{
    writeFile(local("f.txt"), "12345");
    struct utimbuf times { 1000, 1234 };
    utime(local("f.txt").c_str(), &times);
    std::optional<WHPluginResult> r;
    m_fs->getFileMetadataForURL(url("/f.txt?q"), [&](WHPluginResult x) { r = std::move(x); });
    ASSERT_EQ(r->status(), 1);
    const Value& m = *r->message();
    EXPECT_EQ(m["size"], 5);
    EXPECT_EQ(m["name"], "f.txt");
    EXPECT_EQ(m["fullPath"], "/f.txt?q");
    EXPECT_EQ(m["type"], "");
    EXPECT_DOUBLE_EQ(m["lastModifiedDate"].get<double>(), 1234000.0);

    std::filesystem::create_directories(local("d"));
    m_fs->getFileMetadataForURL(url("/d"), [&](WHPluginResult x) { r = std::move(x); });
    EXPECT_EQ((*r->message())["size"], 0);

    std::vector<std::string> lines;
    log::setSinkForTesting([&](std::string_view l) { lines.emplace_back(l); });
    m_fs->getFileMetadataForURL(url("/gone"), [&](WHPluginResult x) { r = std::move(x); });
    log::setSinkForTesting(nullptr);
    EXPECT_EQ(r->status(), 9);
    EXPECT_EQ(errorOf(*r), 1);
    EXPECT_EQ(lines, std::vector<std::string> { "error getting metadata: No such file or directory" });

    auto set = m_fs->setMetadataForURL(url("/f.txt"), { { "a", 1 } });
    EXPECT_EQ(set.status(), 9);
    EXPECT_FALSE(set.message());
}

} // namespace
} // namespace penwick::test
