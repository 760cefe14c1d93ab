#include "FileTestSupport.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

#include "support/LogCapture.h"

namespace penwick::test {
namespace {

// Platform failures are produced for real on small tmpfs volumes mounted inside the test's
// temporary directory: a read-only one (write permission denied even to root, where chmod would
// not stop anyone) and a 64 KiB one that fills up. Mounting needs CAP_SYS_ADMIN; without it these
// tests are reported as skipped with the reason.
class MountedVolume {
public:
    MountedVolume(const std::string& path, const std::string& options) : m_path(path)
    {
        std::filesystem::create_directories(path);
        m_error = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0 ? "" : std::strerror(errno);
    }
    ~MountedVolume() { umount2(m_path.c_str(), MNT_DETACH); }
    bool makeReadOnly() { return mount(nullptr, m_path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

    const std::string m_path;
    std::string m_error;
};

#define REQUIRE_MOUNT(volume)                                                                          \
    if (!(volume).m_error.empty())                                                                     \
    GTEST_SKIP() << "cannot mount a tmpfs here (" << (volume).m_error << "); errno mapping not exercised"

using ErrnoMapping = LocalFilesystemTest;

TEST_F(ErrnoMapping, ReadOnlyVolumeDeniesModification)
{
    MountedVolume volume(local("ro"), "size=1m");
    REQUIRE_MOUNT(volume);
    std::filesystem::create_directories(local("ro/dir"));
    writeFile(local("ro/dir/f.txt"), "stays");
    writeFile(local("src.txt"), "s");
    ASSERT_TRUE(volume.makeReadOnly());

    LogCapture log;
    const int denied = fileErrorCode(FileError::NO_MODIFICATION_ALLOWED_ERR);
    EXPECT_EQ(m_fs->removeFileAtURL(url("/ro/dir/f.txt")).status(), 6);
    EXPECT_EQ(errorOf(m_fs->removeFileAtURL(url("/ro/dir/f.txt"))), denied);
    EXPECT_EQ(errorOf(m_fs->recursiveRemoveFileAtURL(url("/ro/dir"))), denied);
    EXPECT_EQ(errorOf(copy("/ro/dir", "copy.txt", "/src.txt", TransferMode::Copy)), denied);
    // Across volumes a move becomes copy and remove; the copy is refused and the source stays.
    EXPECT_EQ(errorOf(copy("/ro/dir", "moved.txt", "/src.txt", TransferMode::Move)), denied);
    EXPECT_EQ(readFile(local("src.txt")), "s");

    auto created = m_fs->getFileForURL(url("/ro/dir"), "new.txt", { { "create", true } });
    EXPECT_EQ(errorOf(created), fileErrorCode(FileError::ABORT_ERR));
    auto written = m_fs->writeToFileAtURL(url("/ro/dir/f.txt"), bytesOf("x"), WriteMode::Replace);
    EXPECT_EQ(written.status(), 9);
    EXPECT_EQ(errorOf(written), fileErrorCode(FileError::INVALID_MODIFICATION_ERR));
    EXPECT_EQ(readFile(local("ro/dir/f.txt")), "stays");
}

// A copy that does not fit is over quota and leaves no partial file. A write that does not fit is
// written in part by the kernel and then refused: it must answer an error, not the smaller count,
// and leave the file as it was.
TEST_F(ErrnoMapping, FullVolume)
{
    MountedVolume volume(local("small"), "size=64k");
    REQUIRE_MOUNT(volume);
    std::string big(256 * 1024, 'x');
    writeFile(local("big.bin"), big);
    for (auto mode : { TransferMode::Copy, TransferMode::Move }) {
        auto answer = copy("/small", "big.bin", "/big.bin", mode);
        EXPECT_EQ(answer.status(), 6);
        EXPECT_EQ(errorOf(answer), fileErrorCode(FileError::QUOTA_EXCEEDED_ERR));
        EXPECT_FALSE(exists(local("small/big.bin")));
        EXPECT_EQ(readFile(local("big.bin")), big);
    }

    writeFile(local("small/log.txt"), "before;");
    auto appended = m_fs->writeToFileAtURL(url("/small/log.txt"), Bytes(256 * 1024, 'y'), WriteMode::Append);
    EXPECT_EQ(appended.status(), 9);
    EXPECT_EQ(errorOf(appended), fileErrorCode(FileError::INVALID_MODIFICATION_ERR));
    EXPECT_EQ(readFile(local("small/log.txt")), "before;");
    auto replaced = m_fs->writeToFileAtURL(url("/small/new.txt"), Bytes(256 * 1024, 'z'), WriteMode::Replace);
    EXPECT_EQ(replaced.status(), 9);
    EXPECT_EQ(std::filesystem::file_size(local("small/new.txt")), 0u);
    // Replacing an existing file that way keeps its old content, and no temporary file is left.
    auto kept = m_fs->writeToFileAtURL(url("/small/log.txt"), Bytes(256 * 1024, 'w'), WriteMode::Replace);
    EXPECT_EQ(errorOf(kept), fileErrorCode(FileError::INVALID_MODIFICATION_ERR));
    EXPECT_EQ(readFile(local("small/log.txt")), "before;");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(local("small")), {}), 2);
}

} // namespace
} // namespace penwick::test
