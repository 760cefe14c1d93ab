// The local file system on real temporary directories: the edge cases of each operation (the page
// drives the plain cases end to end), confinement to the root, errno mapping on small tmpfs volumes,
// and concurrent use.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

#include "base/WHURL.h"
#include "plugins/file/WHFilesystemURLProtocol.h"
#include "plugins/file/WHLocalFilesystem.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace penwick::test {
namespace {

namespace fs = std::filesystem;
constexpr int kNotFound = 1, kInvalidModification = 9, kAbort = fileErrorCode(FileError::ABORT_ERR),
              kEncoding = fileErrorCode(FileError::ENCODING_ERR), kDenied = fileErrorCode(FileError::NO_MODIFICATION_ALLOWED_ERR);

bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

int errorOf(const WHPluginResult& r) { return r.message() && r.message()->is_number_integer() ? r.message()->get<int>() : -1; }

// A failure's status (which callback the page gets) with its error code.
std::pair<int, std::int32_t> failureOf(const WHPluginResult& result) { return { result.status(), errorOf(result) }; }

// The names under a folder on disk, with those in its subfolders ("victim/v.txt").
std::set<std::string> namesUnder(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.insert(entry.path().lexically_relative(folder));
    return names;
}

// A file system "persistent" whose root is in a fresh temporary directory, and a sibling directory
// beside it that no operation may reach, holding secret.txt.
class LocalFilesystem : public ::testing::Test {
protected:
    LocalFilesystem() { make({ "./", "../outside/secret.txt" }); }

    WHFilesystemURL url(const std::string& tail) const { return WHFilesystemURL("whfile://localhost/persistent" + tail); }
    std::string local(const std::string& relative) const { return m_root + "/" + relative; }
    // Makes each path under the root with its folders: a folder for one ending in "/", else a file holding its own name.
    void make(std::initializer_list<fs::path> paths)
    {
        for (const auto& path : paths) {
            fs::create_directories(local(path.parent_path()));
            if (path.has_filename())
                writeFile(local(path), path.filename());
        }
    }

    // The lean form of a listing, expanded as the page library does, is the listing itself: the
    // same entries in the same order, with and without a URL transformer that changes some URLs.
    void expectLeanFormExpandsToEntries(const WHFilesystemURL& folder)
    {
        auto expand = [](const Value& lean) {
            Value out = Value::array();
            for (const auto& item : lean["items"]) {
                const bool plain = item.is_string(), dir = !plain && item[1] == 1;
                const std::string name = plain ? item.get<std::string>() : item[0].get<std::string>(), tail = dir ? name + "/" : name;
                out.push_back(ValueObject { { "filesystemName", lean["filesystemName"] },
                    { "fullPath", lean["folder"].get<std::string>() + tail }, { "isDirectory", dir }, { "isFile", !dir }, { "name", name },
                    { "nativeURL", plain || item[2].is_null() ? Value(lean["base"].get<std::string>() + tail) : item[2] } });
            }
            return out;
        };
        for (bool transformed : { false, true }) {
            SCOPED_TRACE(transformed ? "with a URL transformer" : "without a URL transformer");
            if (transformed)
                m_fs->setUrlTransformer([](const std::string& u) { return u.find('%') == std::string::npos ? u + "#t" : u; });
            auto objects = m_fs->readEntriesAtURL(folder, EntriesForm::Objects);
            auto lean = m_fs->readEntriesAtURL(folder, EntriesForm::Lean);
            ASSERT_EQ(std::pair(objects.status(), lean.status()), std::pair(1, 1));
            EXPECT_EQ(expand(*lean.message()), *objects.message());
            EXPECT_EQ(lean.message()->dump(), *lean.messageText());
        }
        m_fs->setUrlTransformer(nullptr);
    }

    struct ReadAnswer {
        std::optional<Bytes> bytes;
        std::string mimeType;
        FileError error = FileError::NoError;
        std::string text() const { return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>"; }
    };
    // Starts an operation with a completion that records its answer; asserts it came exactly once, at once.
    template<typename Answer, typename Start>
    static Answer once(Start start)
    {
        std::vector<Answer> answers;
        start([&](auto... parts) { answers.push_back(Answer { std::move(parts)... }); });
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? Answer() : answers[0];
    }
    WHPluginResult copy(const std::string& dir, const std::string& name, const std::string& source, TransferMode mode)
    {
        return once<WHPluginResult>([&](auto done) { m_fs->copyFileToURL(url(dir), name, *m_fs, url(source), mode, done); });
    }
    WHPluginResult metadata(const std::string& tail)
    {
        return once<WHPluginResult>([&](auto done) { m_fs->getFileMetadataForURL(url(tail), done); });
    }
    ReadAnswer read(const WHFilesystemURL& u, std::int64_t start = 0, std::int64_t end = -1, std::uint64_t maxBytes = 1 << 20)
    {
        return once<ReadAnswer>([&](auto done) { m_fs->readFileAtURL(u, start, end, maxBytes, done); });
    }
    // Every operation on `tail` (and on "/d" with `tail` as the target folder) answers
    // NOT_FOUND_ERR, as for a missing item, and nothing outside is read, written or made.
    void expectEveryOperationFindsNothing(const std::string& tail)
    {
        SCOPED_TRACE(tail);
        auto u = url(tail);
        EXPECT_FALSE(m_fs->filesystemPathForURL(u));
        EXPECT_EQ(read(u).error, FileError::NOT_FOUND_ERR);
        for (const auto& r : { m_fs->entryForLocalURI(u), m_fs->writeAtPosition(u, bytesOf("pwned"), 0),
                 m_fs->writeAtPosition(u, bytesOf("pwned"), 5), m_fs->truncateFileAtURL(u, 0), m_fs->removeFileAtURL(u), m_fs->recursiveRemoveFileAtURL(u),
                 m_fs->readEntriesAtURL(u), metadata(tail), copy("/", "stolen", tail, TransferMode::Copy),
                 copy("/", "stolen", tail, TransferMode::Move), copy(tail, "planted.txt", "/d", TransferMode::Copy),
                 m_fs->getFileForURL(u, "secret.txt", { { "create", true } }) })
            EXPECT_EQ(errorOf(r), kNotFound);
        EXPECT_EQ(readFile(m_outside + "/secret.txt"), "secret.txt");
        EXPECT_FALSE(exists(local("stolen")));
        EXPECT_EQ(namesUnder(m_outside), std::set<std::string> { "secret.txt" });
    }

    const TempDir m_tmp { "penwick-fs-XXXXXX" };
    const std::string m_dir = m_tmp.path, m_root = m_dir + "/root", m_outside = m_dir + "/outside";
    std::unique_ptr<WHLocalFilesystem> m_fs = std::make_unique<WHLocalFilesystem>("persistent", m_root);
};

// What a whfile URL names for the page's calls (a file system and a full path, its query kept as
// written) and for the engine that loads it (the scheme's target: escapes are names, "%3F" and "%23"
// staying in the file name, and the query and fragment are not), and where that lies on disk:
// nothing outside the file system's root. A NUL or bytes that are not UTF-8 cannot name anything on disk.
TEST_F(LocalFilesystem, WhatAURLNamesForThePageAndForTheEngineAndPathsMapOnlyInsideTheRoot)
{
    // A URL, whether it parses, the name and the full path the page's calls get, the engine's target
    // path and where that lies on disk. No name: no target; no local path: nothing on disk.
    const struct { const char* url; bool parsed = true; const char *name = {}, *fullPath = {}, *path = {}, *local = {}; } cases[] = {
        { "whfile://localhost/p/dir/", true, "p", "/dir", "/dir", "/srv/r/dir" },
        { "whfile://localhost/p/a.txt?x=%20", true, "p", "/a.txt?x=%20", "/a.txt", "/srv/r/a.txt" },
        { "whfile://localhost/p/a.txt?x=/../../etc", true, "p", "/a.txt?x=/../../etc", "/a.txt", "/srv/r/a.txt" },
        { "whfile://localhost/p/a%3Fb%23c.txt?v=1#top", true, "p", "/a?b#c.txt?v=1", "/a?b#c.txt", "/srv/r/a?b#c.txt" },
        { "whfile://localhost/p", true, "p", "", "", "/srv/r" },
        { "whfile://localhost/p/%2e%2e%2F..%2fetc/passwd", true, "p", "/../../etc/passwd", "/../../etc/passwd", nullptr },
        { "whfile://localhost/p/%2e%2e/x", true, "p", "/../x", "/../x", nullptr },
        { "whfile://localhost/p/a%2F..%2F..%2Fx", true, "p", "/a/../../x", "/a/../../x", nullptr },
        { "whfile://localhost/", true, nullptr, "" }, { "whfile://otherhost/p/a" }, { "WHFILE://localhost/p/a" },
        { "whfilex://localhost/p/a" }, { "whfile://localhost/p/a%00b" }, { "whfile://localhost/p/%ff" },
        // Not URLs: a space, bad escapes, a quote, a byte beyond ASCII, a second "#".
        { "whfile://localhost/persistent/a b", false }, { "whfile://localhost/p/%zz", false }, { "whfile://localhost/p/%4", false },
        { "whfile://localhost/p/\"q\"", false }, { "whfile://localhost/p/\xc3\xa9", false }, { "whfile://localhost/p/a#b#c", false },
    };
    auto optional = [](const char* text) { return text ? std::optional<std::string>(text) : std::nullopt; };
    WHLocalFilesystem fileSystem("p", "/srv/r");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        auto u = WHFilesystemURL::fileSystemURLWithString(c.url);
        EXPECT_EQ(std::tuple(u.url().has_value(), u.fileSystemName(), u.fullPath()),
            std::tuple(c.parsed, optional(c.name), optional(c.fullPath)));
        auto target = WHFilesystemURLProtocol::targetOfURL(c.url);
        ASSERT_EQ(target.has_value(), c.name != nullptr);
        if (target) {
            EXPECT_EQ(std::tuple(target->fileSystemName, target->path, fileSystem.filesystemPathForPath(target->path)),
                std::tuple(c.name, c.path, optional(c.local)));
        }
    }
    EXPECT_EQ(WHFilesystemURL::fileSystemURLWithString("whfile://localhost/p/a%20b.txt").absoluteURL(), "whfile://localhost/p/a b.txt");
    auto file = WHURL::URLWithString("whfile://localhost/persistent/a/b.txt?v=1");
    EXPECT_EQ(file->URLByDeletingLastPathComponent().absoluteString(), "whfile://localhost/persistent/a/?v=1");
    EXPECT_EQ(WHURL::percentEscape("/a?b", WHURL::EscapeSet::Path), "/a?b");

    // Local and full paths map only inside the root.
    const std::pair<const char*, std::string> local[] = { { "", m_root }, { "/", m_root }, { "/a/", m_root + "/a" },
        { "/a/b.txt?v=1/../../x", m_root + "/a/b.txt" }, { "/a/./b", m_root + "/a/./b" }, { "x/f", m_root + "/x/f" } };
    for (const auto& [full, path] : local)
        EXPECT_EQ(m_fs->filesystemPathForFullPath(full), path) << full;
    WHLocalFilesystem t("t", "/data/t"), rootFs("root", "/"), empty("persistent", "");
    EXPECT_EQ(rootFs.filesystemPathForFullPath("etc/hosts"), "/etc/hosts");
    const std::tuple<const WHLocalFilesystem&, const char*, std::optional<std::string>> full[] = { { t, "/data/t/x/f", "/x/f" },
        { t, "/data/t", "" }, { t, "/data/tx/f", std::nullopt }, { t, "/data", std::nullopt }, { t, "/data/t/../secret", std::nullopt },
        { rootFs, "/etc/hosts", "etc/hosts" }, { empty, "/etc/passwd", std::nullopt } };
    for (const auto& [fileSystem, path, fullPath] : full)
        EXPECT_EQ(fileSystem.fullPathForFileSystemPath(path), fullPath) << path;
    EXPECT_EQ(errorOf(empty.entryForLocalURI(url("/etc/passwd"))), kNotFound);

    // Full paths with characters that URLs escape come back from their URLs unchanged.
    for (std::string fullPath : { "/a b/c%d.txt", "/#hash", "/\xc3\xa9t\xc3\xa9", "", "/x?y", "/100% \"done\"/x'y" })
        EXPECT_EQ(m_fs->URLforFullPath(fullPath).value_or(WHFilesystemURL("")).fullPath(), fullPath);
    EXPECT_EQ(m_fs->URLforFullPath("a/b")->url()->absoluteString(), "whfile://localhost/persistent/a/b");
}

TEST_F(LocalFilesystem, EntriesParentsAndListings)
{
    EXPECT_EQ(Value(m_fs->makeEntryForPath("/docs", EntryKind::Directory)), Value::parse(R"({"fullPath": "/docs/",
        "name": "docs", "isFile": false, "isDirectory": true, "filesystemName": "persistent",
        "nativeURL": "file://)" + m_root + R"(/docs"})")) << "nothing on disk, so no trailing / in the native URL";
    auto file = m_fs->makeEntryForPath("/a.txt?v=2", EntryKind::File);
    EXPECT_EQ(Value::array({ file["name"], file["fullPath"], file["nativeURL"] }),
        Value::array({ "a.txt", "/a.txt?v=2", "file://" + m_root + "/a.txt" }));

    make({ "a/sub/", "a/b.txt", "a/.h", "a/d \"\xC3\xA9%/", "a/q?x", "a/q", "a/\xFF" });
    EXPECT_EQ((*m_fs->entryForLocalURI(url("/a/b.txt")).message())["isFile"], true);
    EXPECT_EQ((*m_fs->getParentForURL(url("/a")).message())["name"], "");
    EXPECT_EQ(errorOf(m_fs->getParentForURL(url("/gone/x"))), kNotFound);

    // A listing holds the entries its items' paths make, as compact JSON text; a name that is not
    // UTF-8 or holds a "?" (which would name "q" to every call) is left out, with a line.
    LogCapture log;
    auto r = m_fs->readEntriesAtURL(url("/a"));
    EXPECT_EQ(log.lines(), (std::vector<std::string> { "readEntries of /a left out 1 items whose names hold a \"?\"",
                               "readEntries of /a left out 1 items whose names are not UTF-8 text" }));
    ASSERT_EQ(r.status(), 1);
    std::set<Value> expected;
    for (auto [path, kind] : { std::pair { "/a/.h", EntryKind::File }, { "/a/b.txt", EntryKind::File },
             { "/a/sub/", EntryKind::Directory }, { "/a/d \"\xC3\xA9%/", EntryKind::Directory }, { "/a/q", EntryKind::File } })
        expected.insert(m_fs->makeEntryForPath(path, kind));
    EXPECT_EQ(std::set<Value>(r.message()->begin(), r.message()->end()), expected);
    EXPECT_EQ(r.message()->dump(), *r.messageText());
    expectLeanFormExpandsToEntries(url("/a"));
    EXPECT_EQ(errorOf(m_fs->readEntriesAtURL(url("/missing"))), kNotFound);
    EXPECT_EQ(errorOf(m_fs->readEntriesAtURL(url("/a/b.txt"))), kNotFound);
}

TEST_F(LocalFilesystem, GetFileCreationRules)
{
    const Value create { { "create", true } }, createDir { { "create", true }, { "getDir", true } };
    make({ "notes/a.txt" });
    EXPECT_EQ(m_fs->getFileForURL(url(""), "notes/a.txt", create).status(), 1);
    EXPECT_EQ(readFile(local("notes/a.txt")), "a.txt");
    EXPECT_EQ(m_fs->getFileForURL(url(""), "notes/a.txt", { { "exclusive", true } }).status(), 1);
    EXPECT_EQ((*m_fs->getFileForURL(url(""), "notes", { { "getDir", 1 } }).message())["fullPath"], "/notes/");
    // The parent is not created on the way; an item of the other kind is a mismatch, made or not (no
    // entry calls a folder a file or a file a folder); a text is no flag.
    const int kMismatch = fileErrorCode(FileError::TYPE_MISMATCH_ERR);
    const std::tuple<std::optional<std::string>, Value, int> refused[] = { { "none/a.txt", nullptr, kNotFound },
        { "none/a.txt", create, kAbort }, { "notes", Value(), kMismatch }, { "notes", create, kMismatch }, { "..", create, kMismatch },
        { "", create, kMismatch }, { "notes/a.txt", createDir, kMismatch }, { "new.txt", { { "create", "true" } }, kNotFound },
        { "a:b", create, kEncoding }, { std::nullopt, nullptr, kEncoding } };
    for (const auto& [path, options, error] : refused)
        EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), path, options)), error) << path.value_or("(none)") << " " << options;
    EXPECT_FALSE(exists(local("none")));

    // A path starting with "/" still means one inside the directory given.
    EXPECT_EQ((*m_fs->getFileForURL(url("/notes"), "/a.txt?y", nullptr).message())["fullPath"], "/notes/a.txt?y");
    // ".." in a requested path climbs no higher than the root.
    for (auto [dir, climbing] : { std::pair("", "../escape.txt"), { "", "/../../escape.txt" }, { "", "a/../../escape.txt" },
             { "/notes", "../../escape.txt" } })
        EXPECT_EQ((*m_fs->getFileForURL(url(dir), climbing, create).message())["fullPath"], "/escape.txt") << dir << " " << climbing;
    EXPECT_EQ(std::pair(exists(local("escape.txt")), exists(m_dir + "/escape.txt")), std::pair(true, false));

    LogCapture log;
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), "missing/sub", createDir)), kAbort);
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url(""), std::string(256, 'n'), create)), kAbort);
    EXPECT_EQ(log.lines(), (std::vector<std::string> { "error creating directory: No such file or directory", "error creating file: File name too long" }));
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
constexpr bool kUnderSanitizer = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kUnderSanitizer = false;
#endif

// Traversal attempts of every spelling and links leading out name nothing, and nothing outside the
// root is read, written or removed, by any operation, even while a thread keeps swapping links
// leading out in for a folder and a file that the operations work on.
TEST_F(LocalFilesystem, NeitherTraversalNorLinksEvenSwappedInMidOperationLeaveTheRoots)
{
    make({ "a/f.txt", "d/f.txt", "../other/o.txt" });
    for (std::string tail : { "/../outside/secret.txt", "/%2e%2e/outside/secret.txt", "/%2E%2E/outside/secret.txt",
             "/..%2foutside%2fsecret.txt", "/a/..%2F..%2Foutside/secret.txt", "/%2e%2e%2f%2e%2e%2foutside/secret.txt",
             "?/../../outside/secret.txt", "/..?x=1" }) {
        ASSERT_TRUE(url(tail).fullPath()) << tail;
        EXPECT_FALSE(m_fs->makeEntryForLocalURL(url(tail))) << tail;
        EXPECT_EQ(errorOf(m_fs->getParentForURL(url(tail))), kNotFound) << tail;
        expectEveryOperationFindsNothing(tail);
    }

    // A NUL would end the path where the kernel reads it, after the ".." check.
    EXPECT_FALSE(m_fs->filesystemPathForFullPath(std::string("/..\0x", 5)));
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url("/a"), std::string("..\0x", 4), { { "create", true } })), kEncoding);
    EXPECT_EQ(errorOf(copy("/a", std::string("g\0x", 3), "/a/f.txt", TransferMode::Copy)), kEncoding);
    for (const char* tail : { "/", "//", "/.", "/./" })
        EXPECT_EQ(errorOf(m_fs->recursiveRemoveFileAtURL(url(tail))), kDenied) << tail;
    EXPECT_TRUE(exists(local("a/f.txt")));

    // Links that lead out of every reachable root name nothing, for every operation: a link to a
    // folder, to a file, a dangling one (which a write would create), one in the middle of a path and
    // one behind a relative "..". Links into another reachable root work; copies leave escaping links out.
    for (const auto& [link, target] : { std::pair("dirlink", m_outside), { "filelink", m_outside + "/secret.txt" }, { "d/inside", "f.txt" },
             { "dangling", m_outside + "/planted.txt" }, { "d/relative", "../../outside/secret.txt" }, { "otherlink", m_dir + "/other" } })
        fs::create_symlink(target, local(link));
    for (const char* tail : { "/dirlink", "/dirlink/secret.txt", "/filelink", "/dangling", "/d/relative", "/otherlink/o.txt" })
        expectEveryOperationFindsNothing(tail);
    EXPECT_TRUE(fs::is_symlink(local("dirlink")));

    // With the sibling folder reachable, the link into it is followed.
    m_fs->setReachableRoots({ m_root, m_dir + "/other" });
    EXPECT_EQ(read(url("/otherlink/o.txt")).text(), "o.txt");
    EXPECT_EQ(errorOf(m_fs->truncateFileAtURL(url("/filelink"), 0)), kNotFound);

    // A listing leaves the escaping links out; a copy of the tree drops them and keeps the rest.
    auto listed = m_fs->readEntriesAtURL(url(""));
    std::set<std::string> names;
    for (const auto& entry : *listed.message())
        names.insert(entry["name"].get<std::string>());
    EXPECT_EQ(names, (std::set<std::string> { "a", "d", "otherlink" }));
    expectLeanFormExpandsToEntries(url(""));
    LogCapture log;
    auto copied = copy("/", "copy", "/d", TransferMode::Copy);
    EXPECT_EQ(std::pair(copied.status(), (*copied.message())["leftOut"]), std::pair(6, Value(1)));
    EXPECT_EQ(readFile(local("copy/inside")), "f.txt");
    EXPECT_FALSE(exists(local("copy/relative")));
    EXPECT_EQ(log.lines().size(), 2u);

    // A thread keeps swapping a folder and a file with the links to the outside folder and its file
    // while every operation runs on them. Every file outside holds "secret.txt", and none inside.
    make({ "dir/victim/v.txt", "file.txt", "../outside/victim/" });
    writeFile(m_outside + "/victim/v.txt", "secret.txt");
    std::atomic<bool> done { false };
    std::thread racer([&] {
        while (!done) {
            renameat2(AT_FDCWD, local("dir").c_str(), AT_FDCWD, local("dirlink").c_str(), RENAME_EXCHANGE);
            renameat2(AT_FDCWD, local("file.txt").c_str(), AT_FDCWD, local("filelink").c_str(), RENAME_EXCHANGE);
        }
    });
    // Under a sanitizer each round costs many times more; the races with the swapping thread are
    // the plain build's to find, the sanitizers look for memory and data-race faults, which a hundred
    // rounds show as well as a thousand.
    constexpr int kRounds = kUnderSanitizer ? 100 : 1000;
    for (int i = 0; i < kRounds; ++i) {
        for (const std::string tail : { "/file.txt", "/dir/victim/v.txt", "/dir/secret.txt" }) {
            EXPECT_NE(read(url(tail)).text(), "secret.txt") << tail;
            // What the whfile scheme serves: the file it opens for the URL, read as it streams it.
            auto served = WHFilesystemURLProtocol::fileIn(*m_fs, WHFilesystemURLProtocol::targetOfURL("whfile://localhost/persistent" + tail)->path);
            char bytes[16];
            ssize_t n = served ? pread(served->descriptor->get(), bytes, sizeof bytes, 0) : 0;
            EXPECT_NE(std::string(bytes, n > 0 ? n : 0), "secret.txt") << "whfile " << tail;
            (void)m_fs->writeAtPosition(url(tail), bytesOf("written"), 0);
            (void)m_fs->truncateFileAtURL(url(tail), 1);
        }
        (void)copy("/", "copy", "/dir", TransferMode::Copy);
        (void)m_fs->recursiveRemoveFileAtURL(url("/copy"));
        (void)copy("/", "moved", "/dir/victim", TransferMode::Move);
        (void)copy("/dir", "victim", "/moved", TransferMode::Move);
        (void)m_fs->recursiveRemoveFileAtURL(url("/dir/victim"));
        (void)m_fs->getFileForURL(url("/dir"), "victim", { { "create", true }, { "getDir", true } });
    }
    done = true;
    racer.join();
    EXPECT_EQ(readFile(m_outside + "/secret.txt"), "secret.txt");
    EXPECT_EQ(readFile(m_outside + "/victim/v.txt"), "secret.txt");
    EXPECT_EQ(namesUnder(m_outside), (std::set<std::string> { "secret.txt", "victim", "victim/v.txt" }));
}

// A plain remove takes only empty directories; a truncation or a write takes only a file. Every
// change refuses alike what it may not change: a file with another hard link (which may lie outside
// the roots) and, for a user other than root, a file without write permission. A rewrite keeps the
// owner and the permissions, through a link too, but drops set-user-id bits, saying so.
TEST_F(LocalFilesystem, RemoveTruncateAndWriteChangeOnlyWhatTheyMayAndKeepTheFilesIdentity)
{
    const bool root = geteuid() == 0;
    // A hidden file is content too.
    make({ "empty/", "full/.hidden", "four", "dir/", "private.txt", "linked", "readonly", "setuid" });
    EXPECT_EQ(m_fs->removeFileAtURL(url("/empty")).status(), 1);
    EXPECT_EQ(failureOf(m_fs->removeFileAtURL(url("/full"))), std::pair(6, kInvalidModification));
    EXPECT_EQ(std::pair(exists(local("empty")), exists(local("full/.hidden"))), std::pair(false, true));

    // A rewrite through a link writes the file it names and keeps the link; a rewrite keeps the
    // permissions and the owner, but not set-user-id bits. A failed removal and the bits dropped are logged.
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(local("private.txt"), perms);
    fs::create_symlink("private.txt", local("link.txt"));
    ASSERT_EQ(root ? chown(local("setuid").c_str(), 4321, 4321) : 0, 0);
    fs::permissions(local("setuid"), fs::perms::set_uid | fs::perms::owner_all | fs::perms::group_read);
    EXPECT_EQ(errorOf(m_fs->removeFileAtURL(url("/nope"))), kNotFound);
    LogCapture log;
    EXPECT_EQ(errorOf(m_fs->recursiveRemoveFileAtURL(url("/nope"))), kNotFound);
    EXPECT_EQ(m_fs->writeAtPosition(url("/link.txt"), bytesOf("new"), 0).status(), 1);
    EXPECT_EQ(m_fs->writeAtPosition(url("/setuid"), bytesOf("new"), 0).status(), 1);
    EXPECT_EQ(log.lines(),
        (std::vector<std::string> { "error removing filesystem entry at " + local("nope") + ": No such file or directory",
            "rewriting setuid drops its set-user-id and set-group-id bits" }));
    EXPECT_TRUE(fs::is_symlink(local("link.txt")));
    EXPECT_EQ(readFile(local("private.txt")), "new");
    EXPECT_EQ(fs::status(local("private.txt")).permissions() & fs::perms::all, perms);
    struct stat st;
    ASSERT_EQ(stat(local("setuid").c_str(), &st), 0);
    EXPECT_EQ(std::pair(st.st_mode & 07777, st.st_uid), std::pair(0740u, root ? 4321u : geteuid()));

    EXPECT_EQ(failureOf(m_fs->truncateFileAtURL(url("/missing"), 4)), std::pair(6, kNotFound));
    EXPECT_FALSE(exists(local("missing")));
    EXPECT_EQ(m_fs->truncateFileAtURL(url("/four"), 6).message()->get<int>(), 6);
    EXPECT_EQ(readFile(local("four")), std::string("four\0\0", 6));
    // The length is a 64-bit number (a hole: nothing is written), and reads are sized by what may
    // be answered, not by the file.
    const std::uint64_t tebibyte = 1ull << 40;
    EXPECT_EQ(m_fs->truncateFileAtURL(url("/four"), tebibyte).message()->get<std::uint64_t>(), tebibyte);
    EXPECT_EQ(read(url("/four"), 0, 1 << 20).bytes->size(), 1u << 20);
    EXPECT_EQ(read(url("/four"), 0, (1 << 20) + 1).error, FileError::NOT_READABLE_ERR);
    EXPECT_EQ(m_fs->truncateFileAtURL(url("/four"), 6).message()->get<int>(), 6);

    // The page's write keeps what lies before the position (zero-filled past the end) and
    // replaces the rest, in the file the path names without its query; empty data cuts an existing
    // file and creates none.
    const std::tuple<const char*, std::uint64_t, const char*, std::optional<std::string>> writes[] = {
        { "0123", 0, "ab", "ab" }, { "0123", 2, "ab", "01ab" }, { "0123", 4, "ab", "0123ab" },
        { "0123", 6, "ab", std::string("0123\0\0ab", 8) }, { "0123", 1, "", "0" }, { nullptr, 3, "ab", "ab" },
        { nullptr, 0, "", std::nullopt } };
    for (const auto& [old, position, data, expected] : writes) {
        SCOPED_TRACE(std::to_string(position) + " " + data);
        fs::remove(local("w"));
        if (old)
            writeFile(local("w"), old);
        EXPECT_EQ(m_fs->writeAtPosition(url("/w?v=1"), bytesOf(data), position).status(), 1);
        EXPECT_EQ(exists(local("w")) ? std::optional(readFile(local("w"))) : std::nullopt, expected);
    }

    ASSERT_EQ(mkfifo(local("fifo").c_str(), 0600), 0);
    // A FIFO without a reader fails at once instead of holding the writer, or a reader (which a plain open would block).
    for (auto [tail, error] : { std::pair("/dir", kInvalidModification), { "/nodir/x", kNotFound }, { "/fifo", kInvalidModification } }) {
        for (std::uint64_t position : { 0, 1 })
            EXPECT_EQ(failureOf(m_fs->writeAtPosition(url(tail), bytesOf("x"), position)), std::pair(6, error)) << tail;
        const auto r = read(url(tail));
        EXPECT_EQ(std::pair(r.bytes, r.error), std::pair(std::optional<Bytes>(), FileError::NOT_FOUND_ERR)) << tail;
    }

    fs::create_hard_link(local("linked"), m_outside + "/hard");
    fs::permissions(local("readonly"), fs::perms::owner_read);
    for (const char* name : { "linked", "readonly" }) {
        if (std::string(name) == "readonly" && root)
            continue; // root may write any file
        SCOPED_TRACE(name);
        auto u = url(std::string("/") + name);
        for (const auto& r : { m_fs->writeAtPosition(u, bytesOf("x"), 0), m_fs->writeAtPosition(u, bytesOf("x"), 1),
                 m_fs->truncateFileAtURL(u, 1) })
            EXPECT_EQ(failureOf(r), std::pair(6, kDenied));
        EXPECT_EQ(readFile(local(name)), name);
    }
}

// A host killed while it writes leaves the old content and nothing else: no hidden temporary file
// shows up in the page's listings afterwards. And one file system shared by several threads, each
// working on its own files: every thread sees exactly its own bytes back.
TEST_F(LocalFilesystem, AWriteKilledMidwayLeavesTheOldFileAloneAndThreadsSeeTheirOwnBytes)
{
    writeFile(local("big.bin"), "old");
    const Bytes data(64 << 20, 'x');
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        (void)m_fs->writeAtPosition(url("/big.bin"), data, 0);
        _exit(0);
    }
    // Killed once it has written a part (or, on a fast disk, has ended).
    const std::string proc = "/proc/" + std::to_string(child);
    auto midway = [&] {
        std::ifstream io(proc + "/io");
        std::string key;
        long long count = 0;
        while (io >> key >> count && key != "wchar:") { }
        return count >= (1 << 20) || readFile(proc + "/stat").find(") Z") != std::string::npos;
    };
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60); !midway() && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::yield();
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_EQ(namesUnder(m_root), std::set<std::string> { "big.bin" });
    const std::string kept = readFile(local("big.bin"));
    EXPECT_TRUE(kept == "old" || kept.size() == data.size()) << kept.size();

    // Several threads, each writing, reading, copying and listing its own files in its own folder.
    constexpr int kThreads = 6, kRounds = 40;
    std::atomic<int> failures { 0 };
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string dir = "/t" + std::to_string(t);
            auto check = [&](const WHPluginResult& r) { failures += r.status() != 1; };
            check(m_fs->getFileForURL(url(""), dir.substr(1), { { "create", true }, { "getDir", true } }));
            for (int round = 0; round < kRounds; ++round) {
                const std::string name = dir + "/f" + std::to_string(round % 4), text = name + " round " + std::to_string(round);
                check(m_fs->writeAtPosition(url(name), bytesOf(text), 0));
                check(m_fs->writeAtPosition(url(name), bytesOf("!"), text.size()));
                failures += read(url(name)).text() != text + "!";
                check(copy(dir, "c", name, TransferMode::Copy));
                check(m_fs->readEntriesAtURL(url(dir)));
                check(m_fs->removeFileAtURL(url(dir + "/c")));
                check(metadata(name));
            }
        });
    }
    threads.clear(); // joins them
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(LocalFilesystem, CopyAndMove)
{
    make({ "a.txt", "b.txt", "d/sub/", "d/f", "emptydir/", "full/x/" });
    fs::create_symlink("f", local("d/link"));
    using enum TransferMode;
    const struct { const char *dir, *name, *source; TransferMode mode; int error; } refused[] = {
        { "/", "a.txt", "/a.txt", Copy, kInvalidModification }, { "/nodir", "c.txt", "/a.txt", Copy, kNotFound },
        { "/", "c.txt", "/none.txt", Copy, kNotFound }, { "/d", "inner", "/d", Move, kInvalidModification },
        // Into itself, spelled two ways.
        { "/d/sub", "d", "/d", Copy, kInvalidModification }, { "//d/sub", "d", "/d", Copy, kInvalidModification },
        { "/", "a.txt", "/d", Copy, kInvalidModification }, // a directory onto a file
        { "/", "emptydir", "/a.txt", Move, kInvalidModification }, // a file onto a directory
        { "/", "full", "/emptydir", Move, kInvalidModification }, // onto a non-empty directory
        // "/./a.txt" is the source itself: it must not be removed as the item in the way.
        { "/.", "a.txt", "/a.txt", Move, kInvalidModification },
    };
    for (const auto& c : refused)
        EXPECT_EQ(errorOf(copy(c.dir, c.name, c.source, c.mode)), c.error) << c.dir << " " << c.name << " " << c.source;
    EXPECT_EQ(readFile(local("a.txt")), "a.txt");
    EXPECT_FALSE(exists(local("d/sub/d")));

    // A copied tree keeps its links as links; a move takes the place of an empty directory or a file.
    ASSERT_EQ(copy("/", "copy", "/d", Copy).status(), 1);
    EXPECT_TRUE(fs::is_symlink(local("copy/link")));
    ASSERT_EQ(copy("/", "emptydir", "/copy", Move).status(), 1);
    EXPECT_EQ(readFile(local("emptydir/f")), "f");
    EXPECT_FALSE(exists(local("copy")));
    ASSERT_EQ(copy("/", "b.txt", "/a.txt", Move).status(), 1);
    EXPECT_EQ(readFile(local("b.txt")), "a.txt");
    EXPECT_FALSE(exists(local("a.txt")));
}

TEST_F(LocalFilesystem, ReadByteRangesTheMimeTypeAndMetadata)
{
    make({ "abc.txt", "d/" });
    writeFile(local("empty"), "");
    const std::tuple<const char*, std::int64_t, std::int64_t, const char*> ranges[] = { { "/abc.txt", 5, 100, "xt" },
        { "/abc.txt", 5, 3, "" }, { "/abc.txt", 10, -1, "" }, { "/abc.txt", 0, INT64_MAX, "abc.txt" }, { "/empty", 0, -1, "" } };
    for (auto [tail, start, end, text] : ranges) {
        auto r = read(url(tail), start, end);
        EXPECT_EQ(std::pair(r.text(), r.error), std::pair(std::string(text), FileError::NoError)) << tail << " " << start << ".." << end;
    }
    // Extensions the type registry does not know still count when they contain "css" or "wav".
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/x.zzcssq"), "text/css");
    EXPECT_EQ(WHLocalFilesystem::getMimeTypeFromPath("/a/x.wavx"), "audio/wav");

    struct utimbuf times { 1000, 1234 };
    utime(local("abc.txt").c_str(), &times);
    auto r = metadata("/abc.txt?q");
    ASSERT_EQ(r.status(), 1);
    EXPECT_EQ(*r.message(), Value::parse(R"({"size": 7, "name": "abc.txt", "fullPath": "/abc.txt?q", "type": "",
        "lastModifiedDate": 1234000.0})"));
    EXPECT_EQ((*metadata("/d").message())["size"], 0);

    LogCapture log;
    EXPECT_EQ(failureOf(metadata("/gone")), std::pair(9, kNotFound));
    EXPECT_EQ(log.lines(), std::vector<std::string> { "error getting metadata: No such file or directory" });
    EXPECT_EQ(m_fs->setMetadataForURL(url("/abc.txt"), { { "a", 1 } }).status(), 9);
}

// Platform failures are produced for real on small tmpfs volumes mounted inside the test's
// temporary directory: a read-only one and a 64 KiB one that fills up. Without the right to mount,
// these tests are reported as skipped with the reason.
// A read-only volume refuses every change. A copy that does not fit a full one is over quota and
// leaves no partial file. A write that does not fit is written in part by the kernel and then
// refused: it must answer an error, not the smaller count, and leave the file as it was.
TEST_F(LocalFilesystem, ReadOnlyAndFullVolumes)
{
    const Tmpfs volume(local("ro"), "size=1m"), small(local("small"), "size=64k");
    if (const auto error = volume.error.empty() ? small.error : volume.error; !error.empty())
        GTEST_SKIP() << "cannot mount a tmpfs here (" << error << "); errno mapping not exercised";
    make({ "ro/dir/f.txt", "src.txt", "small/log.txt" });
    ASSERT_TRUE(volume.makeReadOnly());

    LogCapture log;
    // Across volumes a move becomes copy and remove; the copy is refused and the source stays.
    const auto f = url("/ro/dir/f.txt");
    for (const auto& r : { m_fs->removeFileAtURL(f), m_fs->recursiveRemoveFileAtURL(url("/ro/dir")),
             m_fs->writeAtPosition(f, bytesOf("x"), 0), m_fs->writeAtPosition(f, bytesOf("x"), 2), m_fs->truncateFileAtURL(f, 1),
             copy("/ro/dir", "copy.txt", "/src.txt", TransferMode::Copy), copy("/ro/dir", "moved.txt", "/src.txt", TransferMode::Move) })
        EXPECT_EQ(failureOf(r), std::pair(6, kDenied));
    EXPECT_EQ(readFile(local("src.txt")) + readFile(local("ro/dir/f.txt")), "src.txtf.txt");
    EXPECT_EQ(errorOf(m_fs->getFileForURL(url("/ro/dir"), "new.txt", { { "create", true } })), kAbort);

    std::string big(256 * 1024, 'x');
    writeFile(local("big.bin"), big);
    for (auto mode : { TransferMode::Copy, TransferMode::Move }) {
        EXPECT_EQ(failureOf(copy("/small", "big.bin", "/big.bin", mode)), std::pair(6, fileErrorCode(FileError::QUOTA_EXCEEDED_ERR)));
        EXPECT_FALSE(exists(local("small/big.bin")));
        EXPECT_EQ(readFile(local("big.bin")), big);
    }

    // A write that does not fit is over quota and keeps the old content whole, replacing (0, 3) or
    // in place from the end (7): no new or temporary file is left, the length is back.
    for (auto [tail, position] : { std::pair("/small/new.txt", 0), { "/small/log.txt", 0 }, { "/small/log.txt", 3 }, { "/small/log.txt", 7 } })
        EXPECT_EQ(failureOf(m_fs->writeAtPosition(url(tail), Bytes(256 * 1024, 'y'), position)),
            std::pair(6, fileErrorCode(FileError::QUOTA_EXCEEDED_ERR))) << tail << position;
    EXPECT_EQ(readFile(local("small/log.txt")), "log.txt");
    EXPECT_EQ(namesUnder(local("small")), std::set<std::string> { "log.txt" });
}

} // namespace
} // namespace penwick::test
