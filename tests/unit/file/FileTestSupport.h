#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdlib.h>
#include <string>

#include "base/Log.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick::test {

// A fresh directory under the temporary directory, removed with everything in it afterwards.
class TemporaryDirectory {
public:
    TemporaryDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "penwick-fs-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TemporaryDirectory()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

inline void writeFile(const std::string& path, const std::string& contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline std::int32_t errorOf(const WHPluginResult& result)
{
    return result.message() && result.message()->is_number_integer() ? result.message()->get<std::int32_t>() : -1;
}

// Fixture: a file system "persistent" whose root is a fresh temporary directory, and a sibling
// directory beside it that no operation may reach.
class LocalFilesystemTest : public ::testing::Test {
protected:
    LocalFilesystemTest()
        : m_root(m_dir / "root")
        , m_outside(m_dir / "outside")
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

    WHPluginResult copy(const std::string& dir, const std::string& name, const std::string& source, TransferMode mode)
    {
        std::optional<WHPluginResult> answer;
        int calls = 0;
        m_fs->copyFileToURL(url(dir), name, *m_fs, url(source), mode, [&](WHPluginResult r) {
            answer = std::move(r);
            ++calls;
        });
        EXPECT_EQ(calls, 1);
        return answer.value_or(WHPluginResult());
    }

    struct ReadAnswer {
        std::optional<Bytes> bytes;
        std::string mimeType;
        FileError error = FileError::NoError;
        int calls = 0;
        std::string text() const { return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>"; }
    };
    ReadAnswer read(const WHFilesystemURL& u, std::int64_t start, std::int64_t end)
    {
        ReadAnswer a;
        m_fs->readFileAtURL(u, start, end, [&](std::optional<Bytes> b, std::string m, FileError e) {
            a.bytes = std::move(b);
            a.mimeType = std::move(m);
            a.error = e;
            ++a.calls;
        });
        return a;
    }

    TemporaryDirectory m_dir;
    std::string m_root;
    std::string m_outside;
    std::unique_ptr<WHLocalFilesystem> m_fs;
};

} // namespace penwick::test
