#include "FileTestSupport.h"

#include <atomic>
#include <thread>

namespace penwick::test {
namespace {

using Concurrency = LocalFilesystemTest;

// One file system shared by several threads, each working on its own files: every thread must
// see exactly its own bytes back.
TEST_F(Concurrency, ReadsAndWritesOfDifferentFiles)
{
    constexpr int kThreads = 6;
    constexpr int kRounds = 40;
    std::atomic<int> failures { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string dir = "/t" + std::to_string(t);
            auto check = [&](const WHPluginResult& r) { failures += r.status() != 1; };
            check(m_fs->getFileForURL(url(""), dir.substr(1), { { "create", true }, { "getDir", true } }));
            for (int round = 0; round < kRounds; ++round) {
                std::string name = dir + "/f" + std::to_string(round % 4);
                std::string text = "thread " + std::to_string(t) + " round " + std::to_string(round);
                check(m_fs->writeToFileAtURL(url(name), bytesOf(text), WriteMode::Replace));
                check(m_fs->writeToFileAtURL(url(name), bytesOf("!"), WriteMode::Append));
                m_fs->readFileAtURL(url(name), 0, -1, [&](std::optional<Bytes> b, std::string, FileError) {
                    failures += !b || std::string(b->begin(), b->end()) != text + "!";
                });
                m_fs->copyFileToURL(url(dir), "c", *m_fs, url(name), TransferMode::Copy, check);
                check(m_fs->readEntriesAtURL(url(dir)));
                check(m_fs->removeFileAtURL(url(dir + "/c")));
                m_fs->getFileMetadataForURL(url(name), check);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
} // namespace penwick::test
