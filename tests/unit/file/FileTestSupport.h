#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <stdlib.h>
#include <string>

#include "plugins/file/WHLocalFilesystem.h"

namespace penwick::test {

inline std::string makeTemporaryDirectory()
{
    std::string path = (std::filesystem::temp_directory_path() / "penwick-fs-XXXXXX").string();
    if (!mkdtemp(path.data()))
        throw std::runtime_error("mkdtemp failed");
    return path;
}

inline void writeFile(const std::string& path, const std::string& contents) { std::ofstream(path, std::ios::binary) << contents; }

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline std::int32_t errorOf(const WHPluginResult& result)
{
    return result.message() && result.message()->is_number_integer() ? result.message()->get<std::int32_t>() : -1;
}

// Fixture: a file system "persistent" whose root is in a fresh temporary directory, and a sibling
// directory beside it that no operation may reach.
class LocalFilesystemTest : public ::testing::Test {
protected:
    LocalFilesystemTest()
    {
        std::filesystem::create_directories(m_root);
        std::filesystem::create_directories(m_outside);
        writeFile(m_outside + "/secret.txt", "secret");
        m_fs = std::make_unique<WHLocalFilesystem>("persistent", m_root);
    }

    WHFilesystemURL url(const std::string& fullPathOrTail) const
    {
        return WHFilesystemURL::fileSystemURLWithString("whfile://localhost/persistent" + fullPathOrTail);
    }
    std::string local(const std::string& relative) const { return m_root + "/" + relative; }

    struct ReadAnswer {
        std::optional<Bytes> bytes;
        std::string mimeType;
        FileError error = FileError::NoError;
        std::string text() const { return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>"; }
    };
    // Starts an operation with a completion that records its answer; asserts it came exactly once, at once.
    template<typename Answer, typename Start>
    static Answer once(Start start)
    {
        std::vector<Answer> answers;
        start([&](auto... parts) { answers.push_back(Answer { std::move(parts)... }); });
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? Answer() : answers[0];
    }
    WHPluginResult copy(const std::string& dir, const std::string& name, const std::string& source, TransferMode mode)
    {
        return once<WHPluginResult>([&](auto done) { m_fs->copyFileToURL(url(dir), name, *m_fs, url(source), mode, done); });
    }
    WHPluginResult metadata(const std::string& tail)
    {
        return once<WHPluginResult>([&](auto done) { m_fs->getFileMetadataForURL(url(tail), done); });
    }
    ReadAnswer read(const WHFilesystemURL& u, std::int64_t start = 0, std::int64_t end = -1)
    {
        return once<ReadAnswer>([&](auto done) { m_fs->readFileAtURL(u, start, end, done); });
    }

    ~LocalFilesystemTest() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    std::string m_dir = makeTemporaryDirectory();
    std::string m_root = m_dir + "/root";
    std::string m_outside = m_dir + "/outside";
    std::unique_ptr<WHLocalFilesystem> m_fs;
};

} // namespace penwick::test
