// libFuzzer's entry points for the one binary that holds every target: the target is the name the
// binary was started under, less its "fuzz_" prefix.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "base/Log.h"

namespace {

std::map<std::string, penwick::fuzz::Target>& targets()
{
    static std::map<std::string, penwick::fuzz::Target> all;
    return all;
}

penwick::fuzz::Target chosen = nullptr;

} // namespace

bool penwick::fuzz::registerTarget(const char* name, Target target) { return targets().emplace(name, target).second; }

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    std::string_view name = *argc > 0 ? (*argv)[0] : "";
    name = name.substr(name.rfind('/') + 1);
    if (name.starts_with("fuzz_"))
        name.remove_prefix(5);
    auto found = targets().find(std::string(name));
    if (found == targets().end()) {
        std::fprintf(stderr, "Start this binary as fuzz_<target>; the targets are:");
        for (const auto& [known, _] : targets())
            std::fprintf(stderr, " %s", known.c_str());
        std::fprintf(stderr, "\n");
        std::exit(2);
    }
    chosen = found->second;
    // Log lines are expected for bad input, and writing them would only slow the fuzzer down.
    penwick::log::setSinkForTesting([](std::string_view) { });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return chosen(data, size); }
