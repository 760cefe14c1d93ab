// Finding resources and the web-process extension from the executable's place, over fake trees.
#include <gtest/gtest.h>

#include <filesystem>
#include <glib.h>
#include <string>

#include "base/GRef.h"
#include "platform/glib/InstallLayout.h"

using penwick::platform::InstallLayout;

namespace {

class InstallLayoutTest : public testing::Test {
protected:
    void TearDown() override { std::filesystem::remove_all(m_root); }
    void mkdir(const std::string& relative) const { ASSERT_EQ(g_mkdir_with_parents((m_root + "/" + relative).c_str(), 0700), 0); }
    std::string at(const std::string& relative) const { return m_root + "/" + relative; }

    InstallLayout::Locations locations() const
    {
        return { "../share/org.example.App", "../lib/x86_64-linux-gnu/org.example.App/web-extensions", at("build"),
            at("src/app"), at("build/webext") };
    }

    std::string m_root = penwick::GUnique<char>(g_dir_make_tmp("penwick-layout-XXXXXX", nullptr)).get();
};

TEST_F(InstallLayoutTest, FindsTheInstallTreeBesideTheExecutableElseTheBuildTree)
{
    struct Case {
        const char* name;
        const char* executable;
        const char* installedData;   // created when not empty
        const char* installedWebExt; // created when not empty
        const char* expectedResources;
        const char* expectedWebExt;
    };
    // Installed and moved elsewhere is what the install tests run.
    const Case cases[] = {
        { "build tree", "build/src/app", "", "", "src/app", "build/webext" },
        { "staged inside the build tree", "build/stage/usr/bin/app", "build/stage/usr/share/org.example.App",
            "build/stage/usr/lib/x86_64-linux-gnu/org.example.App/web-extensions", "build/stage/usr/share/org.example.App",
            "build/stage/usr/lib/x86_64-linux-gnu/org.example.App/web-extensions" },
        // Outside the build tree with nothing installed: the complaint names where files belong.
        { "incomplete install", "home/bin/app", "", "", "home/share/org.example.App",
            "home/lib/x86_64-linux-gnu/org.example.App/web-extensions" },
        // A folder next to the build folder whose name merely starts the same is not inside it.
        { "look-alike of the build folder", "build2/bin/app", "", "", "build2/share/org.example.App",
            "build2/lib/x86_64-linux-gnu/org.example.App/web-extensions" },
    };
    EXPECT_EQ(InstallLayout(at("build/src/app"), locations()).webExtensionDirectory("/elsewhere"), "/elsewhere");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (*c.installedData)
            mkdir(c.installedData);
        if (*c.installedWebExt)
            mkdir(c.installedWebExt);
        InstallLayout layout(at(c.executable), locations());
        EXPECT_EQ(layout.resourcePath(), at(c.expectedResources));
        EXPECT_EQ(layout.webExtensionDirectory(nullptr), at(c.expectedWebExt));
        EXPECT_EQ(layout.webExtensionDirectory(""), at(c.expectedWebExt)) << "an empty override is none";
    }
}

} // namespace
