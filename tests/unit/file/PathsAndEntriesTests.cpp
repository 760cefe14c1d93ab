#include "FileTestSupport.h"

#include <sys/stat.h>

namespace penwick::test {
namespace {

using Paths = LocalFilesystemTest;

TEST_F(Paths, LocalPathsOfFullPaths)
{
    EXPECT_EQ(m_fs->filesystemPathForFullPath(""), m_root);
    EXPECT_EQ(m_fs->filesystemPathForFullPath("/"), m_root);
    EXPECT_EQ(m_fs->filesystemPathForFullPath("/a/"), m_root + "/a");
    EXPECT_EQ(m_fs->filesystemPathForFullPath("/a/b.txt?v=1/../../x"), m_root + "/a/b.txt");
    EXPECT_EQ(m_fs->filesystemPathForFullPath("/a/./b"), m_root + "/a/./b");

    WHLocalFilesystem rootFs("root", "/");
    EXPECT_EQ(rootFs.filesystemPathForFullPath("/a"), "//a");
    EXPECT_EQ(rootFs.filesystemPathForFullPath("etc/hosts"), "/etc/hosts");
    // A full path without its leading "/" still lands inside the root, not beside it.
    EXPECT_EQ(m_fs->filesystemPathForFullPath("x/f"), m_root + "/x/f");
}

TEST_F(Paths, FullPathsOfLocalPathsNeedTheRootToEndAtASlash)
{
    WHLocalFilesystem fs("t", "/data/t");
    EXPECT_EQ(fs.fullPathForFileSystemPath("/data/t/x/f"), "/x/f");
    EXPECT_EQ(fs.fullPathForFileSystemPath("/data/t"), "");
    EXPECT_EQ(fs.fullPathForFileSystemPath("/data/tx/f"), std::nullopt);
    EXPECT_EQ(fs.fullPathForFileSystemPath("/data"), std::nullopt);
    EXPECT_EQ(fs.fullPathForFileSystemPath("/data/t/../secret"), std::nullopt);
    EXPECT_FALSE(fs.URLforFilesystemPath("/data/tx/f"));

    WHLocalFilesystem rootFs("root", "/");
    EXPECT_EQ(rootFs.fullPathForFileSystemPath("/etc/hosts"), "etc/hosts");
}

TEST_F(Paths, AnEmptyRootHasNoLocalPaths)
{
    WHLocalFilesystem fs("persistent", "");
    EXPECT_FALSE(fs.filesystemPathForFullPath("/etc/passwd"));
    EXPECT_FALSE(fs.fullPathForFileSystemPath("/etc/passwd"));
    EXPECT_EQ(errorOf(fs.entryForLocalURI(url("/etc/passwd"))), fileErrorCode(FileError::NOT_FOUND_ERR));
}

TEST_F(Paths, URLsOfFullPathsRoundTrip)
{
    for (std::string fullPath : { "/a b/c%d.txt", "/#hash", "/\xc3\xa9t\xc3\xa9", "" }) {
        SCOPED_TRACE(fullPath);
        auto u = m_fs->URLforFullPath(fullPath);
        ASSERT_TRUE(u);
        EXPECT_EQ(u->fileSystemName(), "persistent");
        EXPECT_EQ(u->fullPath(), fullPath);
    }
    EXPECT_EQ(m_fs->URLforFullPath("a/b")->url()->absoluteString(), "whfile://localhost/persistent/a/b");
    EXPECT_EQ(m_fs->URLforFullPath("/x?y")->fullPath(), "/x?y");
    EXPECT_FALSE(m_fs->URLforFullPath(std::nullopt));
    EXPECT_EQ(m_fs->URLforFilesystemPath(m_root + "/n/a.txt")->fullPath(), "/n/a.txt");
}

TEST(LocalFilesystemStatic, NormalizeResolvesDotDotWithoutClimbingAboveTheStart)
{
    EXPECT_EQ(WHLocalFilesystem::normalizePath("/a/b/../c"), "/a/c");
    EXPECT_EQ(WHLocalFilesystem::normalizePath("/a/b/../../c"), "/c");
    EXPECT_EQ(WHLocalFilesystem::normalizePath("/../../x"), "/x");
    EXPECT_EQ(WHLocalFilesystem::normalizePath("a/./b"), "a/./b");
    EXPECT_EQ(WHLocalFilesystem::normalizePath("/a/b/c/../../../.."), "/");
    EXPECT_EQ(WHLocalFilesystem::normalizePath("a/../../b/.."), "");
    EXPECT_EQ(WHLocalFilesystem::stripQueryParametersFromPath("/a?b?c"), "/a");
}

using Entries = LocalFilesystemTest;

TEST_F(Entries, DictionaryDescribesTheAssertedKind)
{
    auto dir = m_fs->makeEntryForPath("/docs", EntryKind::Directory);
    EXPECT_EQ(dir["fullPath"], "/docs/");
    EXPECT_EQ(dir["name"], "docs");
    EXPECT_EQ(dir["isFile"], false);
    EXPECT_EQ(dir["isDirectory"], true);
    EXPECT_EQ(dir["filesystemName"], "persistent");
    // Nothing is on disk, so the native URL has no trailing "/".
    EXPECT_EQ(dir["nativeURL"], "file://" + m_root + "/docs");

    std::filesystem::create_directory(local("docs"));
    EXPECT_EQ(m_fs->makeEntryForPath("/docs", EntryKind::Directory)["nativeURL"], "file://" + m_root + "/docs/");

    auto file = m_fs->makeEntryForPath("/a.txt?v=2", EntryKind::File);
    EXPECT_EQ(file["name"], "a.txt");
    EXPECT_EQ(file["fullPath"], "/a.txt?v=2");
    EXPECT_EQ(file["nativeURL"], "file://" + m_root + "/a.txt");

    auto root = m_fs->makeEntryForPath("/", EntryKind::Directory);
    EXPECT_EQ(root["name"], "/");
    EXPECT_EQ(root["fullPath"], "/");
    EXPECT_EQ(m_fs->makeEntryForPath("", EntryKind::Directory)["name"], "");
}

TEST_F(Entries, TransformerRewritesNativeURLs)
{
    m_fs->setUrlTransformer([](const std::string& u) { return "x-" + u; });
    EXPECT_EQ(m_fs->makeEntryForPath("/f", EntryKind::File)["nativeURL"], "x-file://" + m_root + "/f");
}

TEST_F(Entries, EntryForLocalURIFindsWhatExists)
{
    writeFile(local("a.txt"), "x");
    auto found = m_fs->entryForLocalURI(url("/a.txt"));
    EXPECT_EQ(found.status(), 1);
    EXPECT_EQ((*found.message())["isFile"], true);
    auto missing = m_fs->entryForLocalURI(url("/b.txt"));
    EXPECT_EQ(missing.status(), 6);
    EXPECT_EQ(errorOf(missing), 1);
}

using GetFile = LocalFilesystemTest;

TEST_F(GetFile, CreationRules)
{
    auto r = m_fs->getFileForURL(url(""), "notes/a.txt", nullptr);
    EXPECT_EQ(errorOf(r), fileErrorCode(FileError::NOT_FOUND_ERR));

    // The parent is not created on the way.
    r = m_fs->getFileForURL(url(""), "notes/a.txt", { { "create", true } });
    EXPECT_EQ(r.status(), 6);
    EXPECT_EQ(errorOf(r), fileErrorCode(FileError::ABORT_ERR));
    EXPECT_FALSE(exists(local("notes")));

    std::filesystem::create_directory(local("notes"));
    r = m_fs->getFileForURL(url(""), "notes/a.txt", { { "create", true } });
    ASSERT_EQ(r.status(), 1);
    EXPECT_EQ((*r.message())["fullPath"], "/notes/a.txt");
    EXPECT_EQ(readFile(local("notes/a.txt")), "");

    // Creating again keeps the content.
    writeFile(local("notes/a.txt"), "kept");
    r = m_fs->getFileForURL(url(""), "notes/a.txt", { { "create", true } });
    EXPECT_EQ(r.status(), 1);
    EXPECT_EQ(readFile(local("notes/a.txt")), "kept");

    r = m_fs->getFileForURL(url(""), "notes/a.txt", { { "create", true }, { "exclusive", true } });
    EXPECT_EQ(errorOf(r), fileErrorCode(FileError::PATH_EXISTS_ERR));
    r = m_fs->getFileForURL(url(""), "notes/a.txt", { { "exclusive", true } });
    EXPECT_EQ(r.status(), 1);
}

TEST_F(GetFile, KindsAndFlags)
{
    std::filesystem::create_directory(local("notes"));
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "notes", nullptr)), fileErrorCode(FileError::TYPE_MISMATCH_ERR));
    auto claimed = m_fs->getFileForURL(url(""), "notes", { { "create", true } });
    EXPECT_EQ(claimed.status(), 1);
    EXPECT_EQ((*claimed.message())["isFile"], true);

    auto dir = m_fs->getFileForURL(url(""), "notes", { { "getDir", 1 } });
    EXPECT_EQ((*dir.message())["fullPath"], "/notes/");

    // A string "true" is no flag.
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "new.txt", { { "create", "true" } })), 1);
    EXPECT_FALSE(exists(local("new.txt")));

    auto made = m_fs->getFileForURL(url("/notes"), "sub", { { "create", true }, { "getDir", true } });
    EXPECT_EQ(made.status(), 1);
    EXPECT_TRUE(std::filesystem::is_directory(local("notes/sub")));
}

TEST_F(GetFile, BadNamesAreEncodingErrors)
{
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "a:b", { { "create", true } })), fileErrorCode(FileError::ENCODING_ERR));
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), std::nullopt, nullptr)), fileErrorCode(FileError::ENCODING_ERR));
    EXPECT_FALSE(exists(local("a:b")));
}

TEST_F(GetFile, PathsResolveInsideTheFileSystem)
{
    std::filesystem::create_directories(local("a"));
    writeFile(local("x"), "");
    writeFile(local("a/x"), "");
    EXPECT_EQ((*m_fs->getFileForURL(url("/a"), "../../x", nullptr).message())["fullPath"], "/x");
    EXPECT_EQ((*m_fs->getFileForURL(url("/a"), "/x", nullptr).message())["fullPath"], "/a/x");

    auto query = m_fs->getFileForURL(url(""), "x?y", nullptr);
    ASSERT_EQ(query.status(), 1);
    EXPECT_EQ((*query.message())["fullPath"], "/x?y");
    EXPECT_EQ((*query.message())["name"], "x");
}

TEST_F(GetFile, DirectoryCreationFailureIsLogged)
{
    std::vector<std::string> lines;
    log::setSinkForTesting([&](std::string_view l) { lines.emplace_back(l); });
    auto r = m_fs->getFileForURL(url(""), "missing/sub", { { "create", true }, { "getDir", true } });
    log::setSinkForTesting(nullptr);
    EXPECT_EQ(errorOf(r), fileErrorCode(FileError::ABORT_ERR));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "error creating directory: No such file or directory");
}

TEST_F(Paths, ParentOfEntries)
{
    std::filesystem::create_directories(local("a"));
    writeFile(local("a/b.txt"), "");
    auto parent = m_fs->getParentForURL(url("/a/b.txt"));
    ASSERT_EQ(parent.status(), 1);
    EXPECT_EQ((*parent.message())["fullPath"], "/a/");
    EXPECT_EQ((*parent.message())["isDirectory"], true);

    auto ofA = m_fs->getParentForURL(url("/a"));
    EXPECT_EQ((*ofA.message())["fullPath"], "/");
    EXPECT_EQ((*ofA.message())["name"], "");

    auto ofRoot = m_fs->getParentForURL(url(""));
    ASSERT_EQ(ofRoot.status(), 1);
    EXPECT_EQ((*ofRoot.message())["fullPath"], "/");

    EXPECT_EQ(errorOf(m_fs->getParentForURL(url("/gone/x"))), fileErrorCode(FileError::NOT_FOUND_ERR));
}

// Traversal attempts of every spelling name nothing, and nothing outside the root is read, written
// or removed.
TEST_F(Paths, TraversalNeverLeavesTheRoot)
{
    const std::string attempts[] = {
        "/../outside/secret.txt",
        "/%2e%2e/outside/secret.txt",
        "/%2E%2E/outside/secret.txt",
        "/..%2foutside%2fsecret.txt",
        "/a/..%2F..%2Foutside/secret.txt",
        "/%2e%2e%2f%2e%2e%2foutside/secret.txt",
        "?/../../outside/secret.txt",
        "/..?x=1",
    };
    const std::string secret = m_outside + "/secret.txt";
    for (const auto& tail : attempts) {
        SCOPED_TRACE(tail);
        auto u = url(tail);
        ASSERT_TRUE(u.fullPath());
        EXPECT_FALSE(m_fs->filesystemPathForURL(u));
        EXPECT_EQ(errorOf(m_fs->entryForLocalURI(u)), 1);
        EXPECT_FALSE(m_fs->makeEntryForLocalURL(u));

        auto r = read(u, 0, -1);
        EXPECT_EQ(r.error, FileError::NOT_FOUND_ERR);
        EXPECT_FALSE(r.bytes);

        auto w = m_fs->writeToFileAtURL(u, bytesOf("pwned"), WriteMode::Replace);
        EXPECT_EQ(w.status(), 9);
        EXPECT_EQ(errorOf(w), 1);
        EXPECT_EQ(m_fs->truncateFileAtURL(u, 0).message()->get<int>(), 0);
        EXPECT_EQ(errorOf(m_fs->removeFileAtURL(u)), 1);
        EXPECT_EQ(errorOf(m_fs->recursiveRemoveFileAtURL(u)), 1);
        EXPECT_EQ(errorOf(m_fs->readEntriesAtURL(u)), 1);
        EXPECT_EQ(errorOf(m_fs->getParentForURL(u)), 1);
        std::optional<WHPluginResult> meta;
        m_fs->getFileMetadataForURL(u, [&](WHPluginResult m) { meta = std::move(m); });
        EXPECT_EQ(errorOf(*meta), 1);
        EXPECT_EQ(errorOf(copy("/", "stolen.txt", tail, TransferMode::Copy)), 1);
        EXPECT_EQ(errorOf(copy("/", "stolen.txt", tail, TransferMode::Move)), 1);
        EXPECT_EQ(errorOf(copy(tail, "planted.txt", "", TransferMode::Copy)), 1);
    }
    EXPECT_EQ(readFile(secret), "secret");
    EXPECT_FALSE(exists(local("stolen.txt")));
    EXPECT_FALSE(exists(m_outside + "/planted.txt"));
}

TEST_F(Paths, LookupsAndNamesCannotClimbOut)
{
    std::filesystem::create_directories(local("a"));
    // The requested path of a lookup is resolved inside the file system.
    auto r = m_fs->getFileForURL(url("/a"), "../../outside/secret.txt", { { "create", true } });
    EXPECT_EQ(r.status(), 6); // "/outside" does not exist inside the root
    EXPECT_FALSE(exists(local("outside")));
    // A lookup from a directory URL that itself climbs out finds nothing.
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url("/../outside"), "secret.txt", nullptr)), 1);

    writeFile(local("a/f.txt"), "f");
    auto moved = copy("/a", "../../outside/f.txt", "/a/f.txt", TransferMode::Move);
    EXPECT_EQ(errorOf(moved), fileErrorCode(FileError::ENCODING_ERR));
    EXPECT_TRUE(exists(local("a/f.txt")));
    EXPECT_FALSE(exists(m_outside + "/f.txt"));
}

TEST_F(Paths, SiblingPrefixRootsAreToldApart)
{
    // Roots "/…/t" and "/…/tx": a path of the second never maps into the first.
    std::filesystem::create_directories(m_dir / "t");
    std::filesystem::create_directories(m_dir / "tx");
    writeFile(m_dir / "tx/f", "other");
    WHLocalFilesystem t("t", m_dir / "t");
    EXPECT_FALSE(t.URLforFilesystemPath(m_dir / "tx/f"));
    EXPECT_EQ(t.URLforFilesystemPath(m_dir / "t/f")->fullPath(), "/f");
}

TEST_F(Paths, RootCannotBeRemovedUnderAnySpelling)
{
    writeFile(local("keep.txt"), "k");
    for (const char* tail : { "/", "//", "/.", "/./" }) {
        SCOPED_TRACE(tail);
        auto r = m_fs->recursiveRemoveFileAtURL(url(tail));
        EXPECT_EQ(errorOf(r), fileErrorCode(FileError::NO_MODIFICATION_ALLOWED_ERR));
    }
    EXPECT_EQ(readFile(local("keep.txt")), "k");
}

} // namespace
} // namespace penwick::test
