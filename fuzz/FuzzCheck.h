#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace penwick::fuzz {

// A broken property is a finding: stop so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    std::abort();
}

using Target = int (*)(const std::uint8_t* data, std::size_t size);
// Every target lives in the one fuzzing binary, compiled together (they share most headers); the
// name the binary is started under (fuzz_<target>, a link to it) picks the one that runs.
bool registerTarget(const char* name, Target);

} // namespace penwick::fuzz

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::penwick::fuzz::fail(#condition, __FILE__, __LINE__))

// Opens a target's body, with the input as `data` and `size`; each target's file keeps its own
// namespace, so that the files can be compiled as one.
#define FUZZ_TARGET(name)                                                                                                                  \
    int testOneInput(const std::uint8_t* data, std::size_t size);                                                                          \
    [[maybe_unused]] static const bool registered = ::penwick::fuzz::registerTarget(#name, testOneInput);                                  \
    int testOneInput(const std::uint8_t* data, std::size_t size)
