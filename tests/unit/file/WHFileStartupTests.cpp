// The file plugin's start-up: the registry the extra-file-systems setting makes, its log lines, and
// a failing support directory.
#include <gtest/gtest.h>

#include "bridge/WHCommandDelegate.h"
#include "plugins/file/WHFile.h"
#include "support/LogCapture.h"
#include "support/TestPlatform.h"

namespace penwick {
namespace {

class SettingsOnlyDelegate final : public WHCommandDelegate {
public:
    Settings values;
    std::optional<std::string> pathForResource(const std::string&) const override { return std::nullopt; }
    WHPlugin* getCommandInstance(const std::string&) override { return nullptr; }
    void sendPluginResult(const WHPluginResult&, const std::string&) override { }
    void evalJs(const std::string&) override { }
    void evalJs(const std::string&, Schedule) override { }
    void runInBackground(std::function<void()>) override { }
    std::optional<std::string> userAgent() const override { return std::nullopt; }
    bool URLIsWhitelisted(const std::string&) const override { return true; }
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
    struct {
        std::optional<std::string> setting;
        bool failingSupportDirectory;
        std::vector<std::string> names;
        std::vector<std::string> logged;
    } cases[] = {
        { std::nullopt, false, all, {} },
        { "DOCUMENTS,Cache", false, { "temporary", "persistent", "documents", "cache" }, {} },
        { "documents, cache", false, { "temporary", "persistent", "documents" }, { "Unrecognized extra filesystem identifier:  cache" } },
        { "documents,documents", false, { "temporary", "persistent", "documents" }, {} },
        { "", false, { "temporary", "persistent" }, { "Unrecognized extra filesystem identifier: " } },
        { "temporary,root", false, { "temporary", "persistent", "root" }, { "Unrecognized extra filesystem identifier: temporary" } },
        { std::nullopt, true, all, { denied, denied, denied } },
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
        EXPECT_EQ(WHFile::sharedFilePlugin(), &plugin);
        if (!c.failingSupportDirectory)
            continue;
        EXPECT_EQ(plugin.appDataPath(), "");
        // An empty root has no local paths.
        EXPECT_FALSE(plugin.filesystemPathForURL(WHFilesystemURL("whfile://localhost/persistent/a.txt")));
        EXPECT_EQ(plugin.fileSystemURLforLocalPath(platform.environment.temporaryDirectory() + "/x")->fileSystemName(), "temporary");
    }
}

} // namespace
} // namespace penwick
