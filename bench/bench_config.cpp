// config.xml figures: reading a document at the size limit (4 MiB) and refusing one of 32 MB from
// disk, and parsing 32 MB of text directly. Each document is one long attribute value followed by
// the elements the host needs, the shape that used to cost time growing with the square of the size.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "host/WHConfigParser.h"
#include "base/Log.h"

namespace penwick {
namespace {

std::string document(size_t size)
{
    const std::string head = "<?xml version=\"1.0\"?><widget><preference name=\"Long\" value=\"";
    const std::string tail = "\"/><content src=\"index.html\"/></widget>";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

std::string writeDocument(size_t size)
{
    auto path = std::filesystem::temp_directory_path() / ("penwick-bench-config-" + std::to_string(getpid()) + "-" + std::to_string(size));
    std::ofstream(path, std::ios::binary) << document(size);
    return path.string();
}

void parseFile(benchmark::State& state, size_t size)
{
    log::setSinkForTesting([](std::string_view) { });
    std::string path = writeDocument(size);
    for (auto _ : state) {
        WHConfigParser parser;
        benchmark::DoNotOptimize(parser.parseFile(path));
    }
    std::filesystem::remove(path);
    log::setSinkForTesting(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_ConfigFileAtTheLimit(benchmark::State& state) { parseFile(state, WHConfigParser::kMaxFileSize); }
void BM_ConfigFileOf32MBRefused(benchmark::State& state) { parseFile(state, 32u << 20); }

void BM_ConfigTextOf32MB(benchmark::State& state)
{
    std::string text = document(32u << 20);
    for (auto _ : state) {
        WHConfigParser parser;
        benchmark::DoNotOptimize(parser.parseText(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_ConfigFileAtTheLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfigFileOf32MBRefused)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConfigTextOf32MB)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace penwick
