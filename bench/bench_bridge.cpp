// In-process figures for the bridge's hot paths: Base64 both ways and results written as JSON for
// the native-callback expression.
#include <benchmark/benchmark.h>

#include <random>

#include "bridge/WHBase64.h"
#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHPluginResult.h"

namespace {
using namespace penwick;

Bytes randomBytes(size_t size)
{
    std::mt19937_64 rng(42);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

void BM_Base64Encode(benchmark::State& state)
{
    Bytes bytes = randomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::string text = WHBase64::base64EncodedString(bytes);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Base64Encode)->Arg(1 << 10)->Arg(16 << 20);

void BM_Base64DecodeStrict(benchmark::State& state)
{
    std::string text = WHBase64::base64EncodedString(randomBytes(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        auto bytes = WHBase64::decodeStrict(text);
        benchmark::DoNotOptimize(bytes->data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Base64DecodeStrict)->Arg(1 << 10)->Arg(16 << 20);

void BM_TextResultToExpression(benchmark::State& state)
{
    // Mostly plain text with a quote, a backslash and a line break now and then.
    std::string text(static_cast<size_t>(state.range(0)), 'x');
    for (size_t i = 0; i < text.size(); i += 97)
        text[i] = "\"\\\n"[i % 3];
    auto result = WHPluginResult::resultWithStatus(CommandStatus::OK, text);
    for (auto _ : state) {
        std::string js = WHCommandDelegateImpl::nativeCallbackExpression(result, "File123");
        benchmark::DoNotOptimize(js.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_TextResultToExpression)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

// The whole road of a large binary answer: the result is made from the bytes, written as JSON
// and put into the native-callback expression.
void BM_ArrayBufferResultToExpression(benchmark::State& state)
{
    Bytes bytes = randomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        auto result = WHPluginResult::resultWithStatusMessageAsArrayBuffer(CommandStatus::OK, bytes);
        std::string js = WHCommandDelegateImpl::nativeCallbackExpression(result, "File123");
        benchmark::DoNotOptimize(js.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ArrayBufferResultToExpression)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

} // namespace
