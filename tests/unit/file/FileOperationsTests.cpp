#include "FileTestSupport.h"

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <utime.h>

#include "support/LogCapture.h"

namespace penwick::test {
namespace {

using Ops = LocalFilesystemTest;
namespace fs = std::filesystem;
constexpr int kInvalidModification = 9, kNotFound = 1;

TEST_F(Ops, RemoveRefusesNonEmptyDirectoriesUnlessRecursiveAndLogsWhatIsMissing)
{
    fs::create_directories(local("empty"));
    EXPECT_EQ(m_fs->removeFileAtURL(url("/empty")).status(), 1);
    EXPECT_FALSE(exists(local("empty")));
    fs::create_directories(local("full"));
    writeFile(local("full/.hidden"), "h");
    auto refused = m_fs->removeFileAtURL(url("/full"));
    EXPECT_EQ(refused.status(), 6);
    EXPECT_EQ(errorOf(refused), kInvalidModification);
    EXPECT_TRUE(exists(local("full/.hidden")));
    EXPECT_EQ(m_fs->recursiveRemoveFileAtURL(url("/full")).status(), 1);
    EXPECT_FALSE(exists(local("full")));

    EXPECT_EQ(errorOf(m_fs->removeFileAtURL(url("/nope"))), kNotFound);
    LogCapture log;
    EXPECT_EQ(errorOf(m_fs->recursiveRemoveFileAtURL(url("/nope"))), kNotFound);
    EXPECT_EQ(log.lines(), std::vector<std::string> { "error removing filesystem entry at " + local("nope") + ": No such file or directory" });

    // A link to a directory outside is removed as a link; what it points at stays.
    fs::create_directory_symlink(m_outside, local("link"));
    EXPECT_EQ(m_fs->recursiveRemoveFileAtURL(url("/link")).status(), 1);
    EXPECT_FALSE(exists(local("link")));
    EXPECT_EQ(readFile(m_outside + "/secret.txt"), "secret");
}

TEST_F(Ops, ReadEntries)
{
    fs::create_directories(local("d/sub"));
    writeFile(local("d/a.txt"), "a");
    writeFile(local("d/.h"), "h");
    auto r = m_fs->readEntriesAtURL(url("/d"));
    ASSERT_EQ(r.status(), 1);
    std::map<std::string, Value> byPath;
    for (const auto& e : *r.message())
        byPath[e["fullPath"]] = e["nativeURL"];
    EXPECT_EQ(byPath, (std::map<std::string, Value> { { "/d/.h", "file://" + local("d/.h") },
                          { "/d/a.txt", "file://" + local("d/a.txt") }, { "/d/sub/", "file://" + local("d/sub/") } }));
    EXPECT_EQ(errorOf(m_fs->readEntriesAtURL(url("/missing"))), kNotFound);
    EXPECT_EQ(errorOf(m_fs->readEntriesAtURL(url("/d/a.txt"))), kNotFound);
}

TEST_F(Ops, TruncateAndWrite)
{
    EXPECT_EQ(m_fs->truncateFileAtURL(url("/missing"), 4).message()->get<int>(), 0);
    EXPECT_FALSE(exists(local("missing")));
    writeFile(local("ten"), "0123456789");
    EXPECT_EQ(m_fs->truncateFileAtURL(url("/ten"), 4).message()->get<int>(), 4);
    EXPECT_EQ(m_fs->truncateFileAtURL(url("/ten"), 6).message()->get<int>(), 6);
    EXPECT_EQ(readFile(local("ten")), std::string("0123\0\0", 6));

    // Empty data neither creates nor empties a file.
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/new"), {}, WriteMode::Replace).status(), 1);
    EXPECT_FALSE(exists(local("new")));
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/ten"), {}, WriteMode::Replace).status(), 1);
    EXPECT_EQ(readFile(local("ten")).size(), 6u);
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/ten"), bytesOf("12345"), WriteMode::Replace).message()->get<int>(), 5);
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/ten"), bytesOf("67890"), WriteMode::Append).message()->get<int>(), 5);
    EXPECT_EQ(readFile(local("ten")), "1234567890");
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/created?v=1"), bytesOf("x"), WriteMode::Append).status(), 1);
    EXPECT_EQ(readFile(local("created")), "x");

    fs::create_directories(local("dir"));
    ASSERT_EQ(mkfifo(local("fifo").c_str(), 0600), 0);
    // A FIFO without a reader fails at once instead of holding the writer.
    for (const char* tail : { "/dir", "/nodir/x", "/fifo" }) {
        for (auto mode : { WriteMode::Replace, WriteMode::Append }) {
            auto failed = m_fs->writeToFileAtURL(url(tail), bytesOf("x"), mode);
            EXPECT_EQ(failed.status(), 9) << tail;
            EXPECT_EQ(errorOf(failed), kInvalidModification) << tail;
        }
    }
}

TEST_F(Ops, ReplacingKeepsPermissionsAndLinks)
{
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    writeFile(local("private.txt"), "old");
    fs::permissions(local("private.txt"), perms);
    fs::create_symlink("private.txt", local("link.txt"));
    EXPECT_EQ(m_fs->writeToFileAtURL(url("/link.txt"), bytesOf("new"), WriteMode::Replace).status(), 1);
    EXPECT_TRUE(fs::is_symlink(local("link.txt")));
    EXPECT_EQ(readFile(local("private.txt")), "new");
    EXPECT_EQ(fs::status(local("private.txt")).permissions() & fs::perms::all, perms);
}

TEST_F(Ops, CopyAndMoveRefusals)
{
    writeFile(local("a.txt"), "a");
    writeFile(local("b.txt"), "b");
    fs::create_directories(local("d/sub"));
    fs::create_directories(local("emptydir"));
    fs::create_directories(local("full/x"));
    struct Case { const char *dir, *name, *source; TransferMode mode; int error; };
    const Case cases[] = {
        { "/", "a.txt", "/a.txt", TransferMode::Copy, kInvalidModification },
        { "/", "b.txt", "/a.txt", TransferMode::Copy, fileErrorCode(FileError::PATH_EXISTS_ERR) },
        { "/nodir", "c.txt", "/a.txt", TransferMode::Copy, kNotFound },
        { "/", "c.txt", "/none.txt", TransferMode::Copy, kNotFound },
        { "/d/sub", "d", "/d", TransferMode::Copy, kInvalidModification },  // into itself
        { "//d/sub", "d", "/d", TransferMode::Copy, kInvalidModification }, // the same, spelled otherwise
        { "/", "a.txt", "/d", TransferMode::Copy, kInvalidModification },   // a directory onto a file
        { "/", "emptydir", "/a.txt", TransferMode::Move, kInvalidModification }, // a file onto a directory
        { "/", "full", "/emptydir", TransferMode::Move, kInvalidModification },  // onto a non-empty directory
        { "/d", "inner", "/d", TransferMode::Move, kInvalidModification },
        // "/./a.txt" is the source itself: it must not be removed as the item in the way.
        { "/.", "a.txt", "/a.txt", TransferMode::Move, kInvalidModification },
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(copy(c.dir, c.name, c.source, c.mode)), c.error) << c.dir << " " << c.name << " " << c.source;
    EXPECT_EQ(readFile(local("a.txt")), "a");
    EXPECT_EQ(readFile(local("b.txt")), "b");
    EXPECT_FALSE(exists(local("d/sub/d")));

    WHLocalFilesystem other("other", m_outside);
    std::optional<WHPluginResult> answer;
    other.copyFileToURL(WHFilesystemURL::fileSystemURLWithString("whfile://localhost/other/"), "moved", *m_fs, url(""),
        TransferMode::Move, [&](WHPluginResult r) { answer = std::move(r); });
    EXPECT_EQ(errorOf(*answer), fileErrorCode(FileError::NO_MODIFICATION_ALLOWED_ERR)) << "the root does not move";
    EXPECT_TRUE(fs::is_directory(m_root));
}

TEST_F(Ops, CopiesAndMoves)
{
    fs::create_directories(local("d/sub"));
    writeFile(local("d/f"), "f");
    writeFile(local("d/sub/g"), "g");
    fs::create_symlink("f", local("d/link"));
    auto tree = copy("/", "d-old", "/d", TransferMode::Copy);
    ASSERT_EQ(tree.status(), 1);
    EXPECT_EQ((*tree.message())["fullPath"], "/d-old/");
    EXPECT_EQ(readFile(local("d-old/sub/g")), "g");
    EXPECT_TRUE(fs::is_symlink(local("d-old/link")));
    EXPECT_EQ((*copy("/d", "copy of f", "/d/f", TransferMode::Copy).message())["fullPath"], "/d/copy of f");
    EXPECT_EQ(readFile(local("d/copy of f")), "f");

    fs::create_directories(local("emptydir"));
    ASSERT_EQ(copy("/", "emptydir", "/d-old", TransferMode::Move).status(), 1);
    EXPECT_EQ(readFile(local("emptydir/sub/g")), "g");
    EXPECT_FALSE(exists(local("d-old")));
    writeFile(local("b.txt"), "b");
    ASSERT_EQ(copy("/", "b.txt", "/d/f", TransferMode::Move).status(), 1);
    EXPECT_EQ(readFile(local("b.txt")), "f");
    EXPECT_FALSE(exists(local("d/f")));
}

TEST_F(Ops, ReadByteRangesWhatIsNoFileAndTheMimeType)
{
    writeFile(local("abc.txt"), "abcdefg");
    writeFile(local("empty"), "");
    const std::tuple<std::int64_t, std::int64_t, const char*> ranges[] = { { 2, 5, "cde" }, { 2, -1, "cdefg" },
        { 5, 100, "fg" }, { 5, 3, "" }, { 10, -1, "" }, { 0, INT64_MAX, "abcdefg" } };
    for (auto [start, end, text] : ranges) {
        auto r = read(url("/abc.txt"), start, end);
        EXPECT_EQ(r.text(), text) << start << ".." << end;
        EXPECT_EQ(r.error, FileError::NoError);
    }
    EXPECT_EQ(read(url("/empty")).text(), "");

    fs::create_directories(local("dir"));
    ASSERT_EQ(mkfifo(local("fifo").c_str(), 0600), 0); // would block a plain open
    for (const char* tail : { "/missing.txt", "/dir", "/fifo" }) {
        auto r = read(url(tail));
        EXPECT_FALSE(r.bytes) << tail;
        EXPECT_EQ(r.error, FileError::NOT_FOUND_ERR) << tail;
    }
    EXPECT_EQ(read(url("/missing.txt")).mimeType, "text/plain");
    writeFile(local("data.qqqunknown"), "x");
    EXPECT_EQ(read(url("/data.qqqunknown")).mimeType, "*/*");
    // Extensions the type registry does not know still count when they contain "css" or "wav".
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/x.zzcssq"), "text/css");
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/x.wavx"), "audio/wav");
}

TEST_F(Ops, Metadata)
{
    writeFile(local("f.txt"), "12345");
    struct utimbuf times { 1000, 1234 };
    utime(local("f.txt").c_str(), &times);
    auto r = metadata("/f.txt?q");
    ASSERT_EQ(r.status(), 1);
    EXPECT_EQ(*r.message(), Value::parse(R"({"size": 5, "name": "f.txt", "fullPath": "/f.txt?q", "type": "",
        "lastModifiedDate": 1234000.0})"));
    fs::create_directories(local("d"));
    EXPECT_EQ((*metadata("/d").message())["size"], 0);

    LogCapture log;
    auto gone = metadata("/gone");
    EXPECT_EQ(gone.status(), 9);
    EXPECT_EQ(errorOf(gone), kNotFound);
    EXPECT_EQ(log.lines(), std::vector<std::string> { "error getting metadata: No such file or directory" });
    EXPECT_EQ(m_fs->setMetadataForURL(url("/f.txt"), { { "a", 1 } }).status(), 9);
}

// One file system shared by several threads, each working on its own files: every thread must
// see exactly its own bytes back.
TEST_F(Ops, ConcurrentReadsAndWritesOfDifferentFiles)
{
    constexpr int kThreads = 6;
    constexpr int kRounds = 40;
    std::atomic<int> failures { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string dir = "/t" + std::to_string(t);
            auto check = [&](const WHPluginResult& r) { failures += r.status() != 1; };
            check(m_fs->getFileForURL(url(""), dir.substr(1), { { "create", true }, { "getDir", true } }));
            for (int round = 0; round < kRounds; ++round) {
                std::string name = dir + "/f" + std::to_string(round % 4);
                std::string text = "thread " + std::to_string(t) + " round " + std::to_string(round);
                check(m_fs->writeToFileAtURL(url(name), bytesOf(text), WriteMode::Replace));
                check(m_fs->writeToFileAtURL(url(name), bytesOf("!"), WriteMode::Append));
                m_fs->readFileAtURL(url(name), 0, -1, [&](std::optional<Bytes> b, std::string, FileError) {
                    failures += !b || std::string(b->begin(), b->end()) != text + "!";
                });
                m_fs->copyFileToURL(url(dir), "c", *m_fs, url(name), TransferMode::Copy, check);
                check(m_fs->readEntriesAtURL(url(dir)));
                check(m_fs->removeFileAtURL(url(dir + "/c")));
                m_fs->getFileMetadataForURL(url(name), check);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
} // namespace penwick::test
