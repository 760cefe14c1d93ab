// One holder at a time; the refusal names the holder; the lock goes with its holder.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "platform/glib/InstanceLock.h"
#include "support/TempDir.h"

using penwick::platform::InstanceLock;

TEST(InstanceLock, OneHolderAtATimeAndTheRefusalNamesIt)
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
}
