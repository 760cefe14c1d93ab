// A sequence of file actions (write, append, truncate, copy, move, remove) on a real temporary
// tree, each one possibly made to fail part-way (a file size limit stops its writes): after every
// action each file holds exactly what the last successful action left, and nothing else is there
// (no temporary file, no partial copy, no empty file from a failed write).
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <sys/resource.h>

#include "FuzzCheck.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick::fuzz::file_actions_target {

namespace fs = std::filesystem;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) { }
    bool empty() const { return m_size == 0; }
    std::uint8_t next()
    {
        if (!m_size)
            return 0;
        --m_size;
        return *m_data++;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

// Writes beyond `limit` bytes of any file fail with EFBIG while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::optional<rlim_t> limit)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        if (limit) {
            struct rlimit l = m_saved;
            l.rlim_cur = *limit;
            setrlimit(RLIMIT_FSIZE, &l);
        }
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    struct rlimit m_saved;
};

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const char* const kNames[] = { "a", "b", "c", "d" };

} // namespace

FUZZ_TARGET(file_actions)
{
    static const std::string s_dir = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        // In memory where there is a tmpfs: every write is flushed to its disk before it counts.
        std::string folder = g_file_test("/dev/shm", G_FILE_TEST_IS_DIR) ? "/dev/shm/penwick-fuzz-XXXXXX" : "/tmp/penwick-fuzz-XXXXXX";
        if (!g_mkdtemp(folder.data()))
            fuzz::fail("cannot make a temporary folder", __FILE__, __LINE__);
        // Removed at exit; the path is kept apart from s_dir, which is destroyed before this runs.
        static const char* s_made = g_strdup(folder.c_str());
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(s_made, ignored);
        });
        return folder;
    }();
    const fs::path root = s_dir + "/root";
    fs::remove_all(root);
    fs::create_directories(root);
    WHLocalFilesystem fileSystem("persistent", root.string());
    auto url = [](const std::string& name) { return WHFilesystemURL::fileSystemURLWithString("whfile://localhost/persistent/" + name); };

    std::map<std::string, std::string> model;
    Input in(data, size);
    while (!in.empty()) {
        const std::uint8_t op = in.next() % 6;
        const std::string name = kNames[in.next() % 4], other = kNames[in.next() % 4];
        const std::uint8_t faultByte = in.next();
        const std::uint64_t position = in.next() % 48;
        std::string bytes(in.next() % 48, static_cast<char>('A' + in.next() % 26));
        std::optional<rlim_t> limit;
        if (faultByte & 1)
            limit = faultByte >> 1;

        WHPluginResult result(0, Value());
        std::optional<std::string> old = model.count(name) ? std::optional(model[name]) : std::nullopt;
        std::map<std::string, std::string> after = model;
        {
            FileSizeLimit fault(limit);
            switch (op) {
            case 0: // the page's write
                result = fileSystem.writeAtPosition(url(name), Bytes(bytes.begin(), bytes.end()), position);
                if (old) {
                    std::string content = old->substr(0, std::min<std::uint64_t>(position, old->size()));
                    content.resize(std::max<std::uint64_t>(position, content.size()), '\0');
                    after[name] = content + bytes;
                } else if (!bytes.empty()) {
                    after[name] = bytes;
                }
                break;
            case 1:
                result = fileSystem.writeAtPosition(url(name), Bytes(bytes.begin(), bytes.end()), old ? old->size() : 0); // at the end
                if (!bytes.empty())
                    after[name] = old.value_or("") + bytes;
                break;
            case 2:
                result = fileSystem.truncateFileAtURL(url(name), position);
                if (old)
                    after[name].resize(position, '\0');
                break;
            case 3:
            case 4: {
                const auto mode = op == 3 ? TransferMode::Copy : TransferMode::Move;
                fileSystem.copyFileToURL(url(""), other, fileSystem, url(name), mode, [&](WHPluginResult r) { result = std::move(r); });
                if (old) {
                    after[other] = *old;
                    if (mode == TransferMode::Move && other != name)
                        after.erase(name);
                }
                break;
            }
            default:
                result = fileSystem.removeFileAtURL(url(name));
                after.erase(name);
                break;
            }
        }
        if (result.status() == 1)
            model = std::move(after);
        else
            FUZZ_CHECK(result.message() && result.message()->is_number_integer());

        size_t entries = 0;
        for (const auto& entry : fs::directory_iterator(root)) {
            ++entries;
            const std::string entryName = entry.path().filename().string();
            auto it = model.find(entryName);
            if (it == model.end())
                fuzz::fail(("unexpected item in the tree: " + entryName).c_str(), __FILE__, __LINE__);
            if (readFile(entry.path()) != it->second)
                fuzz::fail(("content differs from the last successful action: " + entryName).c_str(), __FILE__, __LINE__);
        }
        FUZZ_CHECK(entries == model.size());
    }
    return 0;
}

} // namespace penwick::fuzz::file_actions_target
