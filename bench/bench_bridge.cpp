// In-process figures for the bridge's hot paths: Base64 both ways, results written as JSON for
// the native-callback expression, and the page channel's payloads encoded and decoded.
#include <benchmark/benchmark.h>

#include <random>

#include "bridge/WHBase64.h"
#include "bridge/WHCommandDelegateImpl.h"
#include "bridge/WHPluginResult.h"
#include "channel/ChannelProtocol.h"

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

// A small page call as the host reads it, and one carrying a buffer of range(0) bytes.
void BM_ChannelExecDecode(benchmark::State& state)
{
    auto size = static_cast<size_t>(state.range(0));
    Value arguments = size ? Value::array({ "file.bin", Value::binary(randomBytes(size)), 0 }) : Value::array({ "file.bin", 1234, true });
    std::string payload = channel::encode(channel::ExecCall { "File123", "File", "write", arguments });
    for (auto _ : state) {
        auto call = channel::decode<channel::ExecCall>(payload);
        benchmark::DoNotOptimize(call->arguments.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(payload.size()));
}
BENCHMARK(BM_ChannelExecDecode)->Arg(0)->Arg(16 << 20)->Unit(benchmark::kMicrosecond);

// An answer of range(0) bytes in a buffer, written by the host and read in place by the page's end.
void BM_ChannelNativeCallbackEncode(benchmark::State& state)
{
    Value message = Value::binary(randomBytes(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        std::string payload = channel::encodeNativeCallback("File123", 1, false, message);
        benchmark::DoNotOptimize(payload.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ChannelNativeCallbackEncode)->Arg(16)->Arg(16 << 20)->Unit(benchmark::kMicrosecond);

void BM_ChannelNativeCallbackViewDecode(benchmark::State& state)
{
    std::string payload = channel::encodeNativeCallback("File123", 1, false, Value::binary(randomBytes(static_cast<size_t>(state.range(0)))));
    for (auto _ : state) {
        auto view = channel::decode<channel::NativeCallbackView>(payload);
        benchmark::DoNotOptimize(view->buffers.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ChannelNativeCallbackViewDecode)->Arg(16)->Arg(16 << 20)->Unit(benchmark::kMicrosecond);

// The usual answer: its message's JSON text of range(0) bytes, both ways.
void BM_ChannelCallbackAnswer(benchmark::State& state)
{
    std::string message = "\"" + std::string(static_cast<size_t>(state.range(0)), 'x') + "\"";
    for (auto _ : state) {
        std::string payload = channel::encode(channel::CallbackAnswer { "File123", 1, false, message });
        auto answer = channel::decode<channel::CallbackAnswer>(payload);
        benchmark::DoNotOptimize(answer->messageJson.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ChannelCallbackAnswer)->Arg(16)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

// A new script context's notice and its setup, both ways (once per document).
void BM_ChannelContextMessages(benchmark::State& state)
{
    channel::NewContext notice { 12, false, "file:///usr/share/app/www/index.html", "", false, 3 };
    channel::ContextSetup setup { true, true, { "window.a = 1;", "window.b = 2;" }, "onload();" };
    for (auto _ : state) {
        auto n = channel::decode<channel::NewContext>(channel::encode(notice));
        auto s = channel::decode<channel::ContextSetup>(channel::encode(setup));
        benchmark::DoNotOptimize(n->frame + s->setup.size());
    }
}
BENCHMARK(BM_ChannelContextMessages)->Unit(benchmark::kMicrosecond);

} // namespace
