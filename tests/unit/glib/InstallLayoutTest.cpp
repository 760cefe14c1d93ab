// Finding resources and the web-process extension from the executable's place, over fake trees.
#include <gtest/gtest.h>

#include <glib.h>
#include <string>

#include "platform/glib/InstallLayout.h"
#include "support/TempDir.h"

using penwick::platform::InstallLayout;

namespace {

TEST(InstallLayout, FindsTheInstallTreeBesideTheExecutableElseTheBuildTree)
{
    const penwick::test::TempDir tmp;
    auto at = [&](const std::string& relative) { return tmp.path + "/" + relative; };
    const InstallLayout::Locations locations { "../share/org.example.App", "../lib/x86_64-linux-gnu/org.example.App/web-extensions",
        at("build"), at("src/app"), at("build/webext"), "../share/doc/org.example.App", at("src") };
    InstallLayout build(at("build/src/app"), locations);
    EXPECT_EQ(build.resourcePath(), at("src/app"));
    EXPECT_EQ(build.webExtensionDirectory(nullptr), at("build/webext"));
    EXPECT_EQ(build.documentationDirectory(), at("src"));
    EXPECT_EQ(build.localeDirectory(), at("build/locale"));
    EXPECT_EQ(build.webExtensionDirectory("/elsewhere"), "/elsewhere");

    // Installed and moved elsewhere is what the install tests run.
    const std::string share = "/share/org.example.App", lib = "/lib/x86_64-linux-gnu/org.example.App/web-extensions";
    // The prefix is that of the install tree found, or of the one missing.
    const struct { const char *name, *executable; std::string prefix; bool installed; } cases[] = {
        { "staged inside the build tree", "build/stage/usr/bin/app", "build/stage/usr", true },
        // Outside the build tree with nothing installed: the complaint names where files belong.
        { "incomplete install", "home/bin/app", "home", false },
        // A folder next to the build folder whose name merely starts the same is not inside it.
        { "look-alike of the build folder", "build2/bin/app", "build2", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& folder : { share + "/locale", lib, std::string("/share/doc/org.example.App") })
            ASSERT_TRUE(!c.installed || g_mkdir_with_parents(at(c.prefix + folder).c_str(), 0700) == 0) << folder;
        InstallLayout layout(at(c.executable), locations);
        EXPECT_EQ(layout.resourcePath(), at(c.prefix + share));
        EXPECT_EQ(layout.webExtensionDirectory(nullptr), at(c.prefix + lib));
        EXPECT_EQ(layout.documentationDirectory(), at(c.prefix + "/share/doc/org.example.App"));
        EXPECT_EQ(layout.localeDirectory(), at(c.prefix + share + "/locale"));
        EXPECT_EQ(layout.webExtensionDirectory(""), at(c.prefix + lib)) << "an empty override is none";
    }
}

} // namespace
