// The file plugin's start-up: the registry the extra-file-systems setting makes, its log lines, and
// a failing support directory. And where its tree work runs.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "bridge/WHCommandDelegate.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "plugins/file/WHFile.h"
#include "support/LogCapture.h"
#include "support/TestPlatform.h"

namespace penwick {
namespace {

class SettingsOnlyDelegate final : public WHCommandDelegate {
public:
    Settings values;
    // Background work is held until the test runs it; answers are kept with their thread.
    std::vector<std::function<void()>> background;
    std::vector<std::pair<WHPluginResult, std::thread::id>> answers;
    WHPlugin* getCommandInstance(const std::string&) override { return nullptr; }
    void sendPluginResult(const WHPluginResult& result, const std::string&) override
    {
        answers.emplace_back(result, std::this_thread::get_id());
    }
    void runInBackground(std::function<void()> work) override { background.push_back(std::move(work)); }
    const Settings& settings() const override { return values; }
};

std::vector<std::string> registeredNames(const WHFile& plugin)
{
    std::vector<std::string> names;
    for (const char* name : { "temporary", "persistent", "documents", "cache", "bundle", "root", "" }) {
        if (plugin.fileSystemByName(name))
            names.push_back(name);
    }
    return names;
}

// A failing support directory is logged for each file system under it, and persistent stays empty.
TEST(WHFileStartup, ExtraFileSystemsFollowTheSettingAndAFailingSupportDirectoryIsLogged)
{
    const std::string denied = "unable to get support directory: denied";
    const std::vector<std::string> all { "temporary", "persistent", "documents", "cache", "bundle", "root" };
    // Thousands of names, each twice: ten lines name them, one counts the rest.
    std::string junk = "root";
    std::vector<std::string> junkLogged;
    for (int i = 0; i < 2 * 5000; ++i) {
        junk += ",n" + std::to_string(i % 5000);
        if (i < 10)
            junkLogged.push_back("Unrecognized extra filesystem identifier: n" + std::to_string(i));
    }
    junkLogged.push_back("4990 more unrecognized extra filesystem identifiers not listed");
    struct {
        std::optional<std::string> setting;
        bool failingSupportDirectory;
        std::vector<std::string> names;
        std::vector<std::string> logged;
    } cases[] = {
        { "DOCUMENTS,Cache", false, { "temporary", "persistent", "documents", "cache" }, {} },
        { "documents, cache", false, { "temporary", "persistent", "documents" }, { "Unrecognized extra filesystem identifier:  cache" } },
        { "", false, { "temporary", "persistent" }, { "Unrecognized extra filesystem identifier: " } },
        { "temporary,root", false, { "temporary", "persistent", "root" }, { "Unrecognized extra filesystem identifier: temporary" } },
        { std::nullopt, true, all, { denied, denied, denied } },
        { "x,x,x", false, { "temporary", "persistent" }, { "Unrecognized extra filesystem identifier: x" } },
        { junk, false, { "temporary", "persistent", "root" }, junkLogged },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting.value_or("(none)") + (c.failingSupportDirectory ? " failing" : ""));
        test::TestPlatform platform;
        if (c.failingSupportDirectory)
            platform.environment.setDirectoryFailure(Error { 13, "denied" });
        SettingsOnlyDelegate delegate;
        if (c.setting)
            delegate.values["osxextrafilesystems"] = *c.setting;
        test::LogCapture log;
        WHFile plugin(WHPluginContext(delegate, platform.platform, nullptr));
        plugin.pluginInitialize();
        EXPECT_EQ(registeredNames(plugin), c.names);
        EXPECT_EQ(log.lines(), c.logged);
        // Without a support directory persistent has an empty root, which has no local paths.
        const bool mapped = plugin.filesystemPathForURL(WHFilesystemURL("whfile://localhost/persistent/a.txt")).has_value();
        EXPECT_EQ(mapped, !c.failingSupportDirectory);
    }
}

// Copying, moving and removing a deep tree leave it untouched on the main thread; the work queue
// does all of it and answers once, from there, so the window never waits on the disk.
TEST(WHFile, TreeWorkRunsOnTheWorkQueueAndAnswersFromThere)
{
    using Action = void (WHFile::*)(const WHInvokedUrlCommand&);
    const std::string T = "whfile://localhost/temporary";
    struct {
        Action action;
        ValueArray arguments;
        bool sourceRemains;
        const char* made;
    } cases[] = {
        { &WHFile::removeRecursively, { T + "/deep" }, false, nullptr },
        { &WHFile::copyTo, { T + "/deep", T, "copy" }, true, "copy" },
        { &WHFile::moveTo, { T + "/deep", T, "moved" }, false, "moved" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.made ? c.made : "remove");
        test::TestPlatform platform;
        SettingsOnlyDelegate delegate;
        WHFile plugin(WHPluginContext(delegate, platform.platform, nullptr));
        plugin.setCommandDelegate(&delegate);
        plugin.pluginInitialize();
        namespace fs = std::filesystem;
        const fs::path tmp = plugin.appTempPath(), leaf = "d0/d1/d2/d3/d4/d5/d6/d7/d8/d9/f";
        fs::create_directories((tmp / "deep" / leaf).parent_path());
        std::ofstream(tmp / "deep" / leaf) << "x";

        (plugin.*c.action)(WHInvokedUrlCommand(c.arguments, "cb", "File", "tree"));
        EXPECT_TRUE(delegate.answers.empty());
        EXPECT_TRUE(fs::exists(tmp / "deep" / leaf));
        EXPECT_TRUE(!c.made || !fs::exists(tmp / c.made));

        std::thread worker([&] {
            for (auto& work : delegate.background)
                work();
        });
        const auto workerId = worker.get_id();
        worker.join();
        ASSERT_EQ(delegate.answers.size(), 1u);
        EXPECT_EQ(delegate.answers[0].first.status(), 1);
        EXPECT_EQ(delegate.answers[0].second, workerId);
        EXPECT_EQ(fs::exists(tmp / "deep" / leaf), c.sourceRemains);
        EXPECT_TRUE(!c.made || fs::exists(tmp / c.made / leaf));
    }
}

} // namespace
} // namespace penwick
