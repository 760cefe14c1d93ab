#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/Log.h"

namespace penwick::fuzz {

// Log lines are expected for bad input; writing them would only slow the fuzzer down.
inline void quietLogs()
{
    log::setSinkForTesting([](std::string_view) { });
}

// A broken property is a finding: stop so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    std::abort();
}

} // namespace penwick::fuzz

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::penwick::fuzz::fail(#condition, __FILE__, __LINE__))
