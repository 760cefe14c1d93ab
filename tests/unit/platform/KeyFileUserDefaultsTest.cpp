#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>

#include "platform/glib/KeyFileUserDefaults.h"
#include "support/LogCapture.h"

using penwick::platform::KeyFileUserDefaults;
namespace fs = std::filesystem;

namespace {

class KeyFileUserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char* dir = g_dir_make_tmp("penwick-defaults-XXXXXX", nullptr);
        m_dir = dir;
        g_free(dir);
        m_path = m_dir + "/app/user-defaults.ini";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string m_dir;
    std::string m_path;
};

TEST_F(KeyFileUserDefaultsTest, AbsentKeysAndValuesSurviveANewInstance)
{
    {
        KeyFileUserDefaults defaults(m_path);
        EXPECT_FALSE(defaults.boolForKey("WebKitDeveloperExtras"));
        EXPECT_FALSE(defaults.stringForKey("WHUUID"));
        ASSERT_TRUE(defaults.setString("WHUUID", "6F9619FF-8B86-D011-B42D-00C04FC964FF"));
        ASSERT_TRUE(defaults.setBool("WebKitDeveloperExtras", true));
    }
    KeyFileUserDefaults reread(m_path);
    EXPECT_EQ(reread.stringForKey("WHUUID"), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_TRUE(reread.boolForKey("WebKitDeveloperExtras"));
    // A text that is not a boolean reads as false.
    ASSERT_TRUE(reread.setString("Flag", "maybe"));
    EXPECT_FALSE(reread.boolForKey("Flag"));
}

TEST_F(KeyFileUserDefaultsTest, UnreadableFileIsKeptAsideNotOverwritten)
{
    fs::create_directories(fs::path(m_path).parent_path());
    std::ofstream(m_path) << "this is [not a key file\n\x01";
    penwick::test::LogCapture log;
    KeyFileUserDefaults defaults(m_path);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(fs::exists(m_path + ".unreadable"));
    ASSERT_TRUE(defaults.setString("k", "v"));
    KeyFileUserDefaults reread(m_path);
    EXPECT_EQ(reread.stringForKey("k"), "v");
}

TEST_F(KeyFileUserDefaultsTest, WriteFailureIsReported)
{
    // A plain file where the folder should be: nothing can be written below it.
    std::ofstream(m_dir + "/blocked") << "x";
    KeyFileUserDefaults defaults(m_dir + "/blocked/user-defaults.ini");
    auto result = defaults.setString("k", "v");
    EXPECT_FALSE(result);
}

} // namespace
