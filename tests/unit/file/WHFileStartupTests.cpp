// The file plugin's start-up: the registry the extra-file-systems setting makes, its log lines, and
// a failing support directory. And its background work: where it runs, in which order, and how
// failures and exceptions are answered.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <new>
#include <set>
#include <thread>

#include "bridge/WHInvokedUrlCommand.h"
#include "plugins/file/WHFile.h"
#include "plugins/file/WHFilesystemURLProtocol.h"
#include "plugins/file/WHLocalFilesystem.h"
#include "support/LogCapture.h"
#include "support/RecordingCommandDelegate.h"
#include "support/TempDir.h"
#include "support/TestPlatform.h"

namespace penwick {
namespace {

using Action = void (WHFile::*)(const WHInvokedUrlCommand&, Reply);

// A started file plugin whose background work runs when the test says.
struct StartedFile {
    explicit StartedFile(std::optional<std::string> extraFileSystems = {}, std::optional<Error> supportDirectoryFailure = {})
    {
        if (extraFileSystems)
            delegate.values["osxextrafilesystems"] = *extraFileSystems;
        platform.environment.setDirectoryFailure(supportDirectoryFailure);
        plugin.pluginInitialize();
    }
    // Calls the action; its background work waits.
    void issue(Action action, const ValueArray& arguments)
    {
        (plugin.*action)(WHInvokedUrlCommand(arguments, "cb", "File", "call"), Reply(delegate, { 0, "cb" }));
    }
    // Calls the action and runs, on this thread, the background work it queued; returns the answers.
    const std::vector<test::RecordingCommandDelegate::Answer>& call(Action action, const ValueArray& arguments)
    {
        delegate.answers.clear();
        delegate.background.clear();
        issue(action, arguments);
        for (size_t i = 0; i < delegate.background.size(); ++i)
            delegate.background[i]();
        return delegate.answers;
    }
    test::TestPlatform platform;
    test::RecordingCommandDelegate delegate;
    WHFile plugin { WHPluginContext(delegate, platform.platform, nullptr) };
};

// A failing support directory is logged for each file system under it, and persistent stays empty.
TEST(WHFileStartup, ExtraFileSystemsFollowTheSettingAndAFailingSupportDirectoryIsLogged)
{
    const std::string denied = "unable to get support directory: denied";
    // Thousands of names, each twice: ten lines name them, one counts the rest.
    std::string junk = "root";
    std::vector<std::string> junkLogged;
    for (int i = 0; i < 2 * 5000; ++i) {
        junk += ",n" + std::to_string(i % 5000);
        if (i < 10)
            junkLogged.push_back("Unrecognized extra filesystem identifier: n" + std::to_string(i));
    }
    junkLogged.push_back("4990 more unrecognized extra filesystem identifiers not listed");
    struct { std::optional<std::string> setting; bool failingSupportDirectory; std::vector<std::string> names, logged; } cases[] = {
        { "DOCUMENTS,Cache", false, { "temporary", "persistent", "documents", "cache" }, {} },
        { "documents, cache", false, { "temporary", "persistent", "documents" }, { "Unrecognized extra filesystem identifier:  cache" } },
        { "", false, { "temporary", "persistent" }, {} },
        { ",", false, { "temporary", "persistent" }, { "Unrecognized extra filesystem identifier: " } },
        { "temporary,root", false, { "temporary", "persistent", "root" }, { "Unrecognized extra filesystem identifier: temporary" } },
        { std::nullopt, true, { "temporary", "persistent", "documents", "cache", "bundle", "root" }, std::vector(3, denied) },
        { "x,x,x", false, { "temporary", "persistent" }, { "Unrecognized extra filesystem identifier: x" } },
        { junk, false, { "temporary", "persistent", "root" }, junkLogged },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting.value_or("(none)") + (c.failingSupportDirectory ? " failing" : ""));
        test::LogCapture log;
        StartedFile started(c.setting, c.failingSupportDirectory ? std::optional(Error { 13, "denied" }) : std::nullopt);
        std::vector<std::string> names;
        for (const auto& fileSystem : started.plugin.fileSystems().all())
            names.push_back(fileSystem->name());
        // Without a support directory persistent has an empty root, which has no local paths.
        const bool mapped = started.plugin.fileSystems().filesystemPathForURL(WHFilesystemURL("whfile://localhost/persistent/a.txt")).has_value();
        EXPECT_EQ(std::tuple(names, log.lines(), mapped), std::tuple(c.names, c.logged, !c.failingSupportDirectory));
    }
}

// Changes (writes, truncations, copies, moves, removals, of files and of deep trees) leave the disk
// untouched on the main thread: one task on the work queue runs them, in the order they were called
// however many wait, and answers each once from there, so the window never waits on the disk.
TEST(WHFile, ChangesRunOnTheWorkQueueInTheOrderTheyWereCalled)
{
    StartedFile started;
    auto& delegate = started.delegate;
    namespace fs = std::filesystem;
    const std::string T = "whfile://localhost/temporary", tmp = started.plugin.fileSystems().appTempPath(), leaf = "/d0/d1/d2/d3/d4/d5/d6/d7/d8/d9/f";
    fs::create_directories(fs::path(tmp + "/deep" + leaf).parent_path());
    std::ofstream(tmp + "/deep" + leaf) << "x";
    const std::vector<std::pair<Action, ValueArray>> calls = { { &WHFile::write, { T + "/f", "first", 0 } },
        { &WHFile::write, { T + "/f", "second", 0 } }, { &WHFile::truncate, { T + "/f", 3 } }, { &WHFile::copyTo, { T + "/f", T, "g" } },
        { &WHFile::write, { T + "/f", "x", 1 } }, { &WHFile::moveTo, { T + "/g", T, "h" } }, { &WHFile::write, { T + "/h", "!", 3 } },
        { &WHFile::remove, { T + "/f" } }, { &WHFile::copyTo, { T + "/deep", T, "copy" } },
        { &WHFile::copyTo, { T + "/deep", T, "copy2" } }, { &WHFile::removeRecursively, { T + "/copy2" } },
        { &WHFile::moveTo, { T + "/deep", T, "moved" } }, { &WHFile::write, { T + "/tb", "t", 0 } },
        { &WHFile::truncate, { T + "/tb", 1099511627776 } } };
    for (const auto& [action, arguments] : calls)
        started.issue(action, arguments);
    ASSERT_EQ(std::pair(delegate.answers.size(), delegate.background.size()), std::pair(size_t(0), size_t(1)));
    EXPECT_TRUE(fs::exists(tmp + "/deep" + leaf));
    EXPECT_FALSE(fs::exists(tmp + "/f") || fs::exists(tmp + "/copy") || fs::exists(tmp + "/moved"));
    std::thread worker([&] { delegate.background[0](); });
    const auto workerId = worker.get_id();
    worker.join();
    ASSERT_EQ(delegate.answers.size(), calls.size());
    for (const auto& answer : delegate.answers)
        EXPECT_EQ(std::pair(answer.result.status(), answer.thread), std::pair(1, workerId)) << answer.result.message()->dump();
    for (const char* gone : { "/f", "/g", "/copy2", "/deep" })
        EXPECT_FALSE(fs::exists(tmp + gone)) << gone;
    EXPECT_EQ(test::readFile(tmp + "/h"), "sec!");
    EXPECT_EQ(test::readFile(tmp + "/copy" + leaf) + test::readFile(tmp + "/moved" + leaf), "xx");
    // A length past 32 bits (a hole: nothing is written) reaches the file whole.
    EXPECT_EQ(fs::file_size(tmp + "/tb"), 1ull << 40);

    // A big folder is listed by a task of its own, not inside the page's call, and listed whole.
    fs::create_directories(tmp + "/many/sub");
    for (int i = 0; i < 3000; ++i)
        std::ofstream(tmp + "/many/" + std::to_string(i));
    started.issue(&WHFile::readEntries, { T + "/many" });
    ASSERT_EQ(std::pair(delegate.answers.size(), delegate.background.size()), std::pair(calls.size(), size_t(2)));
    delegate.background[1]();
    ASSERT_EQ(delegate.answers.size(), calls.size() + 1);
    std::set<std::string> urls;
    for (const auto& entry : *delegate.answers.back().result.message())
        urls.insert(entry["nativeURL"].get<std::string>());
    EXPECT_EQ(urls.size(), 3001u);
    EXPECT_TRUE(urls.count("file://" + tmp + "/many/sub/") && urls.count("file://" + tmp + "/many/2999"));
}

// A file system whose every operation throws, as running out of memory would.
class ThrowingFileSystem final : public WHFileSystem {
public:
    [[noreturn]] static void fail() { throw std::bad_alloc(); }
    WHPluginResult entryForLocalURI(const WHFilesystemURL&) override { fail(); }
    WHPluginResult getFileForURL(const WHFilesystemURL&, const std::optional<std::string>&, const Value&) override { fail(); }
    WHPluginResult getParentForURL(const WHFilesystemURL&) override { fail(); }
    WHPluginResult setMetadataForURL(const WHFilesystemURL&, const Value&) override { fail(); }
    WHPluginResult removeFileAtURL(const WHFilesystemURL&) override { fail(); }
    WHPluginResult recursiveRemoveFileAtURL(const WHFilesystemURL&) override { fail(); }
    WHPluginResult readEntriesAtURL(const WHFilesystemURL&, EntriesForm) override { fail(); }
    WHPluginResult truncateFileAtURL(const WHFilesystemURL&, std::uint64_t) override { fail(); }
    WHPluginResult writeAtPosition(const WHFilesystemURL&, const Bytes&, std::uint64_t) override { fail(); }
    void copyFileToURL(const WHFilesystemURL&, const std::string&, WHFileSystem&, const WHFilesystemURL&, TransferMode, ResultCallback) override { fail(); }
    void readFileAtURL(const WHFilesystemURL&, std::int64_t, std::int64_t, std::uint64_t, ReadCallback) override { fail(); }
    void getFileMetadataForURL(const WHFilesystemURL&, ResultCallback) override { fail(); }
    std::optional<ValueObject> makeEntryForLocalURL(const WHFilesystemURL&) override { fail(); }
    ValueObject makeEntryForPath(const std::string&, EntryKind) override { fail(); }
    const std::string& name() const override { return m_name; }
    void setName(std::string) override { fail(); }
    const URLTransformer& urlTransformer() const override { fail(); }
    void setUrlTransformer(URLTransformer) override { fail(); }

private:
    const std::string m_name = "boom";
};

// Background file work answers every call once, with an error code that says what happened and a
// line for what failed: a read too large for an answer (a sparse terabyte) is refused before anything
// is read, a missing file is not found (no line: an app's first run logs no error), and work that
// throws is answered instead of taking the host down. A link to /etc planted in "persistent", with
// "root" left out, is found by no action nor by the whfile scheme (NOT_FOUND_ERR, as for a missing
// item), and nothing outside changes.
TEST(WHFile, ActionsAnswerFailuresWithTheirCodeAndALinkOutOfEveryRootIsRefusedByEveryActionAndTheScheme)
{
    StartedFile started("documents,cache");
    auto& plugin = started.plugin;
    const std::string data = plugin.fileSystems().appDataPath(), sparse = plugin.fileSystems().appTempPath() + "/sparse";
    plugin.fileSystems().registerFilesystem(std::make_shared<ThrowingFileSystem>());
    std::filesystem::create_directory_symlink("/etc", data + "/etc");
    std::ofstream(data + "/x") << "x";
    std::ofstream(sparse).close();
    std::filesystem::resize_file(sparse, 1ull << 40);
    const std::string T = "whfile://localhost/temporary", B = "whfile://localhost/boom/x", P = "whfile://localhost/persistent",
                      E = P + "/etc", H = E + "/hostname";
    constexpr auto NF = FileError::NOT_FOUND_ERR;
    using enum FileError;
    const struct { Action action; ValueArray arguments; FileError error; bool logged = false; } cases[] = {
        { &WHFile::readAsArrayBuffer, { T + "/sparse", 0, -1 }, NOT_READABLE_ERR, true }, { &WHFile::readAsText, { T + "/missing" }, NF },
        { &WHFile::readAsDataURL, { T + "/sparse", 0, 200 << 20 }, NOT_READABLE_ERR, true }, { &WHFile::remove, { B }, ABORT_ERR, true },
        { &WHFile::truncate, { T + "/missing", 1 }, NF, true }, { &WHFile::readAsBinaryString, { B }, NOT_READABLE_ERR, true },
        { &WHFile::write, { B, "data", 0 }, INVALID_MODIFICATION_ERR, true },
        // Through the link: entries, reads, changes and transfers.
        { &WHFile::getFile, { E, "planted", ValueObject { { "create", true } } }, NF }, { &WHFile::getFileMetadata, { H }, NF, true },
        { &WHFile::resolveLocalFileSystemURI, { H }, NF }, { &WHFile::getParent, { H }, NF }, { &WHFile::readEntries, { E }, NF },
        { &WHFile::getFile, { E, "hostname", nullptr }, NF }, { &WHFile::getDirectory, { E, "ssl", nullptr }, NF },
        { &WHFile::readAsText, { H }, NF }, { &WHFile::readAsDataURL, { H, 0, -1 }, NF }, { &WHFile::readAsArrayBuffer, { H, 0, -1 }, NF },
        { &WHFile::readAsBinaryString, { H, 0, -1 }, NF }, { &WHFile::write, { H, "x", 0 }, NF }, { &WHFile::truncate, { H, 0 }, NF },
        { &WHFile::write, { E + "/planted", "x", 0 }, NF }, { &WHFile::remove, { H }, NF }, { &WHFile::removeRecursively, { E }, NF },
        { &WHFile::copyTo, { H, P, "stolen" }, NF }, { &WHFile::moveTo, { H, P, "stolen" }, NF },
        { &WHFile::copyTo, { P + "/x", E, "planted" }, NF }, { &WHFile::copyTo, { E, P, "stolen" }, NF },
        // A "?" in a path begins its query: no entry could name such a copy.
        { &WHFile::copyTo, { P + "/x", P, "x?y" }, ENCODING_ERR }, { &WHFile::moveTo, { P + "/x", P, "y?" }, ENCODING_ERR } };
    const std::string hostname = test::readFile("/etc/hostname");
    for (const auto& c : cases) {
        SCOPED_TRACE(Value(c.arguments).dump());
        test::LogCapture log;
        const auto& answers = started.call(c.action, c.arguments);
        ASSERT_EQ(answers.size(), 1u);
        // Metadata fails with the plain error status.
        EXPECT_EQ(std::tuple(answers[0].result.status(), *answers[0].result.message(), log.lines().size()),
            std::tuple(c.action == &WHFile::getFileMetadata ? 9 : 6, Value(fileErrorCode(c.error)), c.logged ? 1u : 0u));
    }
    WHFilePluginSlot slot;
    slot.publish(&plugin);
    EXPECT_FALSE(WHFilesystemURLProtocol(slot).fileForURL(H));
    EXPECT_EQ(std::pair(std::filesystem::exists("/etc/planted"), std::filesystem::exists(data + "/stolen")), std::pair(false, false));
    EXPECT_EQ(test::readFile("/etc/hostname"), hostname);

    // The link has no local path, and a folder named in Latin-1 ("\xe9", an e with an acute accent) none
    // that a page could use. Existence is answered only inside the file systems: elsewhere as for a missing file.
    std::filesystem::create_directory(data + "/caf\xe9");
    plugin.fileSystems().registerFilesystem(std::make_shared<WHLocalFilesystem>("latin", data + "/caf\xe9"));
    const std::tuple<Action, std::string, Value> tests[] = { { &WHFile::getLocalFilesystemPath, H, "Cannot resolve URL to a file" },
        { &WHFile::getLocalFilesystemPath, "whfile://localhost/latin/a", "The local path of the file is not UTF-8 text" },
        { &WHFile::testFileExists, "/etc/hostname", 0 }, { &WHFile::testFileExists, data + "/etc/hostname", 0 },
        { &WHFile::testDirectoryExists, "/etc", 0 }, { &WHFile::testFileExists, data + "/x", 1 },
        { &WHFile::testDirectoryExists, data, 1 } };
    for (const auto& [action, path, answer] : tests)
        EXPECT_EQ(*started.call(action, { path }).back().result.message(), answer) << path;

    // The documents folder not made yet: its volume's free space, as a decimal string.
    std::filesystem::remove_all(plugin.fileSystems().appDocsPath());
    const auto& answers = started.call(&WHFile::getFreeDiskSpace, {});
    ASSERT_EQ(answers.size(), 1u);
    const auto freeBytes = answers[0].result.message()->get<std::string>();
    EXPECT_NE(freeBytes, "0");
    EXPECT_EQ(freeBytes.find_first_not_of("0123456789"), std::string::npos);
}

} // namespace
} // namespace penwick
