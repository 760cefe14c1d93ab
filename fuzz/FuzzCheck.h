#pragma once

#include <cstdio>
#include <cstdlib>

namespace penwick::fuzz {

// A broken property is a finding: stop so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    std::abort();
}

} // namespace penwick::fuzz

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::penwick::fuzz::fail(#condition, __FILE__, __LINE__))
