// File system figures: whole-file and tail reads of a 64 MiB file (with a plain read() loop as the
// floor), copying that file, listing a directory of 10,000 entries, and the page's write, which
// replaces the file as one step (a small file, and 1 KiB added at the end of 64 MiB).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bridge/WHJSONSerializing.h"
#include "plugins/file/WHLocalFilesystem.h"

namespace penwick {
namespace {

constexpr size_t kBigFileSize = 64u << 20;
constexpr int kListedEntries = 10000;

// One fixture for the whole run: a root with the big file and the big directory.
class Fixture {
public:
    static Fixture& shared()
    {
        static Fixture fixture;
        return fixture;
    }
    ~Fixture()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }

    WHLocalFilesystem& fs() { return *m_fs; }
    const std::string& bigFilePath() const { return m_bigFile; }
    WHFilesystemURL url(const std::string& fullPath) const
    {
        return WHFilesystemURL::fileSystemURLWithString("whfile://localhost/bench" + fullPath);
    }

private:
    Fixture()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "penwick-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_root = pattern;
        m_bigFile = m_root + "/big.bin";
        {
            std::ofstream out(m_bigFile, std::ios::binary);
            std::string block(1 << 20, '\0');
            for (size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<char>(i * 31 + 7);
            for (size_t written = 0; written < kBigFileSize; written += block.size())
                out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        std::filesystem::create_directories(m_root + "/many");
        std::filesystem::create_directories(m_root + "/copies");
        for (int i = 0; i < kListedEntries; ++i) {
            std::string name = m_root + "/many/entry-" + std::to_string(i) + (i % 10 == 0 ? "" : ".txt");
            if (i % 10 == 0)
                std::filesystem::create_directory(name);
            else
                std::ofstream(name) << i;
        }
        m_fs = std::make_unique<WHLocalFilesystem>("bench", m_root);
    }

    std::string m_root;
    std::string m_bigFile;
    std::unique_ptr<WHLocalFilesystem> m_fs;
};

void BM_ReadWholeFile(benchmark::State& state)
{
    auto& f = Fixture::shared();
    auto url = f.url("/big.bin");
    for (auto _ : state) {
        size_t size = 0;
        f.fs().readFileAtURL(url, 0, -1, UINT64_MAX, [&](std::optional<Bytes> bytes, std::string, FileError error) {
            if (error != FileError::NoError || !bytes)
                state.SkipWithError("read failed");
            else
                size = bytes->size();
            benchmark::DoNotOptimize(bytes);
        });
        if (size != kBigFileSize)
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFileSize));
}
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond);

// The floor: open, size, one uninitialised buffer, read() until the end.
void BM_PlainReadLoop(benchmark::State& state)
{
    auto& f = Fixture::shared();
    for (auto _ : state) {
        int fd = open(f.bigFilePath().c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        fstat(fd, &st);
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(st.st_size)]);
        size_t done = 0;
        while (done < static_cast<size_t>(st.st_size)) {
            ssize_t n = read(fd, buffer.get() + done, static_cast<size_t>(st.st_size) - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        close(fd);
        benchmark::DoNotOptimize(buffer.get());
        if (done != kBigFileSize)
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFileSize));
}
BENCHMARK(BM_PlainReadLoop)->Unit(benchmark::kMillisecond);

void BM_ReadTail4KiB(benchmark::State& state)
{
    auto& f = Fixture::shared();
    auto url = f.url("/big.bin");
    constexpr int64_t end = static_cast<int64_t>(kBigFileSize);
    for (auto _ : state) {
        f.fs().readFileAtURL(url, end - 4096, end, UINT64_MAX, [&](std::optional<Bytes> bytes, std::string, FileError) {
            if (!bytes || bytes->size() != 4096)
                state.SkipWithError("tail read failed");
            benchmark::DoNotOptimize(bytes);
        });
    }
}
BENCHMARK(BM_ReadTail4KiB)->Unit(benchmark::kMicrosecond);

void BM_Copy64MiB(benchmark::State& state)
{
    auto& f = Fixture::shared();
    auto source = f.url("/big.bin");
    auto destination = f.url("/copies");
    for (auto _ : state) {
        f.fs().copyFileToURL(destination, "big-copy.bin", f.fs(), source, TransferMode::Copy, [&](WHPluginResult r) {
            if (r.status() != 1)
                state.SkipWithError("copy failed");
        });
        state.PauseTiming();
        (void)f.fs().removeFileAtURL(f.url("/copies/big-copy.bin"));
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFileSize));
}
BENCHMARK(BM_Copy64MiB)->Unit(benchmark::kMillisecond);

// The page's write builds the new content beside the file (the kept part copied in the kernel)
// and flushes it before the rename.
void BM_PageWrite(benchmark::State& state)
{
    auto& f = Fixture::shared();
    const bool big = state.range(0) != 0;
    auto url = f.url(big ? "/copies/log.bin" : "/copies/small.txt");
    if (big)
        f.fs().copyFileToURL(f.url("/copies"), "log.bin", f.fs(), f.url("/big.bin"), TransferMode::Copy, [](WHPluginResult) { });
    const Bytes data(1024, 'w');
    for (auto _ : state) {
        if (f.fs().writeAtPosition(url, data, big ? kBigFileSize : 0).status() != 1)
            state.SkipWithError("write failed");
    }
    (void)f.fs().removeFileAtURL(url);
}
BENCHMARK(BM_PageWrite)->Arg(0)->Arg(1)->ArgName("after64MiB")->Unit(benchmark::kMillisecond);

void BM_ListDirectory10000(benchmark::State& state)
{
    auto& f = Fixture::shared();
    auto url = f.url("/many");
    auto listed = f.fs().readEntriesAtURL(url);
    if (listed.status() != 1 || listed.message()->size() != static_cast<size_t>(kListedEntries))
        state.SkipWithError("listing failed");
    // The listing and its answer's text, in the lean form the page library asks for.
    for (auto _ : state) {
        auto result = f.fs().readEntriesAtURL(url, EntriesForm::Lean);
        std::string text;
        if (result.messageText())
            text = *result.messageText();
        else if (WHJSONSerializing::appendPrettyJSON(text, *result.message(), 1))
            state.SkipWithError("no answer text");
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations() * kListedEntries);
}
BENCHMARK(BM_ListDirectory10000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace penwick
