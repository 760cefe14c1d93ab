// One holder at a time; the refusal names the holder; the lock goes with its holder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/glib/InstanceLock.h"
#include "support/TempDir.h"

using penwick::platform::InstanceLock;

TEST(InstanceLock, OneHolderAtATimeInAFolderOfTheUsersAloneAndTheRefusalNamesItButNeverShowsItsTextRaw)
{
    const penwick::test::TempDir root;
    const std::string path = root.path + "/run/org.example.App.lock";
    {
        auto first = InstanceLock::acquire(path);
        ASSERT_TRUE(first) << first.error().message;
        // A second open of the file is another holder, as a second process would be.
        auto second = InstanceLock::acquire(path);
        ASSERT_FALSE(second);
        EXPECT_EQ(second.error().message, "process " + std::to_string(getpid()) + " holds " + path);
    }
    EXPECT_TRUE(InstanceLock::acquire(path)) << "the lock outlived its holder";

    // Only a file of the user's in a folder of the user's alone is a lock; what another holder wrote
    // is named only when it is a process id.
    const std::string shared = root.path + "/shared", own = root.path;
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(symlink((own + "/elsewhere").c_str(), (own + "/link.lock").c_str()), 0);
    for (const std::string& path : { shared + "/a.lock", own + "/link.lock" })
        EXPECT_FALSE(InstanceLock::acquire(path)) << path;

    const std::string other = own + "/b.lock";
    int holder = open(other.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    ASSERT_EQ(write(holder, "\x1b]0;owned\x07\n", 11), 11);
    auto refused = InstanceLock::acquire(other);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, "another process holds " + other);
    close(holder);
}
