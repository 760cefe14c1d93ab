// In-process figures for the bridge's hot paths: Base64 both ways, results written as JSON for
// the native-callback expression, and commands built from a queued batch.
#include <benchmark/benchmark.h>

#include <random>

#include "bridge/WHBase64.h"
#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHJSONSerializing.h"
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

void BM_Base64DecodeLenient(benchmark::State& state)
{
    std::string text = WHBase64::base64EncodedString(randomBytes(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        Bytes bytes = WHBase64::dataFromBase64String(text);
        benchmark::DoNotOptimize(bytes.data());
    }
    // Throughput in decoded bytes, as for encoding.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Base64DecodeLenient)->Arg(1 << 10)->Arg(16 << 20);

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

// Line-wrapped text takes the lenient decoder's slow path for the blanks.
void BM_Base64DecodeLenientWrapped(benchmark::State& state)
{
    std::string clean = WHBase64::base64EncodedString(randomBytes(static_cast<size_t>(state.range(0))));
    std::string text;
    for (size_t i = 0; i < clean.size(); i += 76)
        text += clean.substr(i, 76) + "\r\n";
    for (auto _ : state) {
        Bytes bytes = WHBase64::dataFromBase64String(text);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Base64DecodeLenientWrapped)->Arg(16 << 20);

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

void BM_CommandsFromBatch(benchmark::State& state)
{
    const size_t count = static_cast<size_t>(state.range(0));
    Value batch = Value::array();
    std::string small = WHBase64::base64EncodedString(randomBytes(48));
    for (size_t i = 0; i < count; ++i) {
        Value args = Value::array({ "/persistent/dir/file" + std::to_string(i) + ".txt", i, true,
            Value { { "create", true }, { "exclusive", false } } });
        if (i % 10 == 0)
            args.push_back(Value { { "WHType", "ArrayBuffer" }, { "data", small } });
        batch.push_back(Value::array({ "File" + std::to_string(i), "File", "getFile", std::move(args) }));
    }
    const std::string text = batch.dump();
    for (auto _ : state) {
        auto parsed = WHJSONSerializing::JSONObject(text);
        size_t built = 0;
        for (const auto& entry : *parsed) {
            auto command = WHInvokedUrlCommand::commandFromJson(entry);
            built += command.arguments().size();
        }
        benchmark::DoNotOptimize(built);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_CommandsFromBatch)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace
