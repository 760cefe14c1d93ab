#include "FileTestSupport.h"

#include "support/LogCapture.h"

namespace penwick::test {
namespace {

using Paths = LocalFilesystemTest;
constexpr int kNotFound = 1;

TEST_F(Paths, LocalAndFullPathsMapOnlyInsideTheRoot)
{
    const std::pair<const char*, std::string> local[] = { { "", m_root }, { "/", m_root }, { "/a/", m_root + "/a" },
        { "/a/b.txt?v=1/../../x", m_root + "/a/b.txt" }, { "/a/./b", m_root + "/a/./b" }, { "x/f", m_root + "/x/f" } };
    for (const auto& [full, path] : local)
        EXPECT_EQ(m_fs->filesystemPathForFullPath(full), path) << full;
    WHLocalFilesystem rootFs("root", "/");
    EXPECT_EQ(rootFs.filesystemPathForFullPath("etc/hosts"), "/etc/hosts");
    EXPECT_EQ(rootFs.fullPathForFileSystemPath("/etc/hosts"), "etc/hosts");

    WHLocalFilesystem t("t", "/data/t");
    const std::pair<const char*, std::optional<std::string>> full[] = { { "/data/t/x/f", "/x/f" }, { "/data/t", "" },
        { "/data/tx/f", std::nullopt }, { "/data", std::nullopt }, { "/data/t/../secret", std::nullopt } };
    for (const auto& [path, fullPath] : full)
        EXPECT_EQ(t.fullPathForFileSystemPath(path), fullPath) << path;
    EXPECT_FALSE(t.URLforFilesystemPath("/data/tx/f"));

    WHLocalFilesystem empty("persistent", "");
    EXPECT_FALSE(empty.filesystemPathForFullPath("/etc/passwd"));
    EXPECT_EQ(errorOf(empty.entryForLocalURI(url("/etc/passwd"))), kNotFound);

    const std::pair<const char*, const char*> normalized[] = { { "/a/b/../c", "/a/c" }, { "/a/b/../../c", "/c" },
        { "/../../x", "/x" }, { "a/./b", "a/./b" }, { "/a/b/c/../../../..", "/" }, { "a/../../b/..", "" } };
    for (auto [path, expected] : normalized)
        EXPECT_EQ(WHLocalFilesystem::normalizePath(path), expected) << path;
}

TEST_F(Paths, URLsOfFullPathsRoundTrip)
{
    for (std::string fullPath : { "/a b/c%d.txt", "/#hash", "/\xc3\xa9t\xc3\xa9", "", "/x?y" }) {
        auto u = m_fs->URLforFullPath(fullPath);
        ASSERT_TRUE(u) << fullPath;
        EXPECT_EQ(u->fileSystemName(), "persistent");
        EXPECT_EQ(u->fullPath(), fullPath);
    }
    EXPECT_EQ(m_fs->URLforFullPath("a/b")->url()->absoluteString(), "whfile://localhost/persistent/a/b");
    EXPECT_EQ(m_fs->URLforFilesystemPath(m_root + "/n/a.txt")->fullPath(), "/n/a.txt");
}

TEST_F(Paths, EntriesDescribeTheAssertedKind)
{
    EXPECT_EQ(Value(m_fs->makeEntryForPath("/docs", EntryKind::Directory)), Value::parse(R"({"fullPath": "/docs/",
        "name": "docs", "isFile": false, "isDirectory": true, "filesystemName": "persistent",
        "nativeURL": "file://)" + m_root + R"(/docs"})")) << "nothing on disk, so no trailing / in the native URL";
    std::filesystem::create_directory(local("docs"));
    EXPECT_EQ(m_fs->makeEntryForPath("/docs", EntryKind::Directory)["nativeURL"], "file://" + m_root + "/docs/");
    auto file = m_fs->makeEntryForPath("/a.txt?v=2", EntryKind::File);
    EXPECT_EQ(file["name"], "a.txt");
    EXPECT_EQ(file["fullPath"], "/a.txt?v=2");
    EXPECT_EQ(file["nativeURL"], "file://" + m_root + "/a.txt");
    EXPECT_EQ(m_fs->makeEntryForPath("/", EntryKind::Directory)["name"], "/");

    std::filesystem::create_directories(local("a"));
    writeFile(local("a/b.txt"), "");
    EXPECT_EQ((*m_fs->entryForLocalURI(url("/a/b.txt")).message())["isFile"], true);
    EXPECT_EQ(errorOf(m_fs->entryForLocalURI(url("/b.txt"))), kNotFound);
    EXPECT_EQ((*m_fs->getParentForURL(url("/a/b.txt")).message())["fullPath"], "/a/");
    EXPECT_EQ((*m_fs->getParentForURL(url("/a")).message())["name"], "");
    EXPECT_EQ((*m_fs->getParentForURL(url("")).message())["fullPath"], "/");
    EXPECT_EQ(errorOf(m_fs->getParentForURL(url("/gone/x"))), kNotFound);
}

TEST_F(Paths, GetFileCreationRules)
{
    using Options = Value;
    const Options create { { "create", true } }, exclusive { { "create", true }, { "exclusive", true } };
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "notes/a.txt", nullptr)), kNotFound);
    // The parent is not created on the way.
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "notes/a.txt", create)), fileErrorCode(FileError::ABORT_ERR));
    EXPECT_FALSE(exists(local("notes")));
    std::filesystem::create_directory(local("notes"));
    EXPECT_EQ((*m_fs->getFileForURL(url(""), "notes/a.txt", create).message())["fullPath"], "/notes/a.txt");
    writeFile(local("notes/a.txt"), "kept");
    EXPECT_EQ(m_fs->getFileForURL(url(""), "notes/a.txt", create).status(), 1);
    EXPECT_EQ(readFile(local("notes/a.txt")), "kept");
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "notes/a.txt", exclusive)), fileErrorCode(FileError::PATH_EXISTS_ERR));
    EXPECT_EQ(m_fs->getFileForURL(url(""), "notes/a.txt", { { "exclusive", true } }).status(), 1);

    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "notes", nullptr)), fileErrorCode(FileError::TYPE_MISMATCH_ERR));
    EXPECT_EQ((*m_fs->getFileForURL(url(""), "notes", { { "getDir", 1 } }).message())["fullPath"], "/notes/");
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "new.txt", { { "create", "true" } })), kNotFound) << "a text is no flag";
    EXPECT_EQ(m_fs->getFileForURL(url("/notes"), "sub", { { "create", true }, { "getDir", true } }).status(), 1);
    EXPECT_TRUE(std::filesystem::is_directory(local("notes/sub")));
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "a:b", create)), fileErrorCode(FileError::ENCODING_ERR));
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), std::nullopt, nullptr)), fileErrorCode(FileError::ENCODING_ERR));

    // Paths resolve inside the file system: ".." stops at the root, "/" means the directory given.
    EXPECT_EQ((*m_fs->getFileForURL(url("/notes"), "../../notes/a.txt", nullptr).message())["fullPath"], "/notes/a.txt");
    EXPECT_EQ((*m_fs->getFileForURL(url("/notes"), "/a.txt?y", nullptr).message())["fullPath"], "/notes/a.txt?y");

    LogCapture log;
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "missing/sub", { { "create", true }, { "getDir", true } })),
        fileErrorCode(FileError::ABORT_ERR));
    EXPECT_EQ(log.lines(), std::vector<std::string> { "error creating directory: No such file or directory" });
}

// Traversal attempts of every spelling name nothing, and nothing outside the root is read, written
// or removed, by any operation.
TEST_F(Paths, TraversalNeverLeavesTheRoot)
{
    for (std::string tail : { "/../outside/secret.txt", "/%2e%2e/outside/secret.txt", "/%2E%2E/outside/secret.txt",
             "/..%2foutside%2fsecret.txt", "/a/..%2F..%2Foutside/secret.txt", "/%2e%2e%2f%2e%2e%2foutside/secret.txt",
             "?/../../outside/secret.txt", "/..?x=1" }) {
        SCOPED_TRACE(tail);
        auto u = url(tail);
        ASSERT_TRUE(u.fullPath());
        EXPECT_FALSE(m_fs->filesystemPathForURL(u));
        EXPECT_FALSE(m_fs->makeEntryForLocalURL(u));
        EXPECT_EQ(read(u).error, FileError::NOT_FOUND_ERR);
        EXPECT_EQ(m_fs->truncateFileAtURL(u, 0).message()->get<int>(), 0);
        for (const auto& r : { m_fs->entryForLocalURI(u), m_fs->writeToFileAtURL(u, bytesOf("pwned"), WriteMode::Replace),
                 m_fs->removeFileAtURL(u), m_fs->recursiveRemoveFileAtURL(u), m_fs->readEntriesAtURL(u),
                 m_fs->getParentForURL(u), metadata(tail), copy("/", "stolen.txt", tail, TransferMode::Copy),
                 copy("/", "stolen.txt", tail, TransferMode::Move), copy(tail, "planted.txt", "", TransferMode::Copy),
                 m_fs->getFileForURL(u, "secret.txt", nullptr) })
            EXPECT_EQ(errorOf(r), kNotFound);
    }
    EXPECT_EQ(readFile(m_outside + "/secret.txt"), "secret");
    EXPECT_FALSE(exists(local("stolen.txt")));
    EXPECT_FALSE(exists(m_outside + "/planted.txt"));

    // Names climb no further than the root either.
    std::filesystem::create_directories(local("a"));
    EXPECT_EQ(m_fs->getFileForURL(url("/a"), "../../outside/secret.txt", { { "create", true } }).status(), 6);
    EXPECT_FALSE(exists(local("outside")));
    writeFile(local("a/f.txt"), "f");
    EXPECT_EQ(errorOf(copy("/a", "../../outside/f.txt", "/a/f.txt", TransferMode::Move)), fileErrorCode(FileError::ENCODING_ERR));
    EXPECT_TRUE(exists(local("a/f.txt")));
    EXPECT_FALSE(exists(m_outside + "/f.txt"));
    // A NUL would end the path where the kernel reads it, after the ".." check.
    EXPECT_FALSE(m_fs->filesystemPathForFullPath(std::string("/..\0x", 5)));
    const int encodingErr = fileErrorCode(FileError::ENCODING_ERR);
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url("/a"), std::string("..\0x", 4), { { "create", true } })), encodingErr);
    EXPECT_EQ(errorOf(copy("/a", std::string("g\0x", 3), "/a/f.txt", TransferMode::Copy)), encodingErr);
    for (const char* tail : { "/", "//", "/.", "/./" })
        EXPECT_EQ(errorOf(m_fs->recursiveRemoveFileAtURL(url(tail))), fileErrorCode(FileError::NO_MODIFICATION_ALLOWED_ERR)) << tail;
    EXPECT_TRUE(exists(local("a/f.txt")));
}

} // namespace
} // namespace penwick::test
