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

    // Each of these asserts that the completion came exactly once, at once.
    WHPluginResult copy(const std::string& dir, const std::string& name, const std::string& source, TransferMode mode)
    {
        std::vector<WHPluginResult> answers;
        m_fs->copyFileToURL(url(dir), name, *m_fs, url(source), mode, [&](WHPluginResult r) { answers.push_back(r); });
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? WHPluginResult() : answers[0];
    }
    WHPluginResult metadata(const std::string& tail)
    {
        std::vector<WHPluginResult> answers;
        m_fs->getFileMetadataForURL(url(tail), [&](WHPluginResult r) { answers.push_back(r); });
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? WHPluginResult() : answers[0];
    }

    struct ReadAnswer {
        std::optional<Bytes> bytes;
        std::string mimeType;
        FileError error = FileError::NoError;
        std::string text() const { return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>"; }
    };
    ReadAnswer read(const WHFilesystemURL& u, std::int64_t start = 0, std::int64_t end = -1)
    {
        std::vector<ReadAnswer> answers;
        m_fs->readFileAtURL(u, start, end, [&](std::optional<Bytes> b, std::string m, FileError e) {
            answers.push_back({ std::move(b), std::move(m), e });
        });
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? ReadAnswer() : answers[0];
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
