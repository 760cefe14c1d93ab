#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "platform/glib/KeyFileUserDefaults.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

using penwick::platform::KeyFileUserDefaults;
namespace fs = std::filesystem;

namespace {

TEST(KeyFileUserDefaults, UnreadableFileIsNeverOverwrittenAndWriteFailuresAreReported)
{
    const penwick::test::TempDir tmp("penwick-defaults-XXXXXX");
    const std::string dir = tmp.path, path = dir + "/app/user-defaults.ini";
    const std::string garbage = "this is [not a key file\n\x01";
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << garbage;
    {
        penwick::test::LogCapture log;
        KeyFileUserDefaults defaults(path);
        EXPECT_EQ(log.lines().size(), 1u);
        ASSERT_TRUE(defaults.setString("k", "v"));
        EXPECT_EQ(KeyFileUserDefaults(path).stringForKey("k"), "v");
    }
    EXPECT_EQ(penwick::test::readFile(path + ".unreadable"), garbage);

    // When it cannot be moved aside (a folder in the way), it stays and writes are refused.
    std::ofstream(path) << garbage;
    fs::remove(path + ".unreadable");
    fs::create_directories(path + ".unreadable/full");
    penwick::test::LogCapture log;
    KeyFileUserDefaults stuck(path);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("user defaults at " + path + " unreadable (", 0), 0u);
    EXPECT_TRUE(log.lines()[0].ends_with(" and not moved aside (Is a directory); changes are not saved"));
    EXPECT_FALSE(stuck.setString("k", "v"));
    EXPECT_EQ(penwick::test::readFile(path), garbage);

    // A plain file where the folder should be: nothing can be written below it.
    std::ofstream(dir + "/blocked") << "x";
    EXPECT_FALSE(KeyFileUserDefaults(dir + "/blocked/user-defaults.ini").setString("k", "v"));
}

} // namespace
