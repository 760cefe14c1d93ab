#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "platform/glib/KeyFileUserDefaults.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

using penwick::platform::KeyFileUserDefaults;
namespace fs = std::filesystem;

namespace {

class KeyFileUserDefaultsTest : public ::testing::Test {
protected:
    const penwick::test::TempDir m_tmp { "penwick-defaults-XXXXXX" };
    const std::string m_dir = m_tmp.path, m_path = m_dir + "/app/user-defaults.ini";
};

TEST_F(KeyFileUserDefaultsTest, UnreadableFileIsNeverOverwrittenAndWriteFailuresAreReported)
{
    const std::string garbage = "this is [not a key file\n\x01";
    fs::create_directories(fs::path(m_path).parent_path());
    std::ofstream(m_path) << garbage;
    {
        penwick::test::LogCapture log;
        KeyFileUserDefaults defaults(m_path);
        EXPECT_EQ(log.lines().size(), 1u);
        ASSERT_TRUE(defaults.setString("k", "v"));
        EXPECT_EQ(KeyFileUserDefaults(m_path).stringForKey("k"), "v");
    }
    std::ifstream kept(m_path + ".unreadable");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), garbage);

    // When it cannot be moved aside (a folder in the way), it stays and writes are refused.
    std::ofstream(m_path) << garbage;
    fs::remove(m_path + ".unreadable");
    fs::create_directories(m_path + ".unreadable/full");
    penwick::test::LogCapture log;
    KeyFileUserDefaults stuck(m_path);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("user defaults at " + m_path + " unreadable (", 0), 0u);
    EXPECT_TRUE(log.lines()[0].ends_with(" and not moved aside (Is a directory); changes are not saved"));
    EXPECT_FALSE(stuck.setString("k", "v"));
    std::ifstream again(m_path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), garbage);

    // A plain file where the folder should be: nothing can be written below it.
    std::ofstream(m_dir + "/blocked") << "x";
    EXPECT_FALSE(KeyFileUserDefaults(m_dir + "/blocked/user-defaults.ini").setString("k", "v"));
}

} // namespace
