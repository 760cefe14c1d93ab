#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to CMake's configure step.
# BUILD_TARGETS names what is built (default: everything and the benchmarks). Warnings are errors
# as in scripts/test.sh (PENWICK_WERROR=OFF only shows them): both configure build/ alike, so that
# neither recompiles what the other built and one compiler cache serves both. PENWICK_BUILD_JOBS
# sets how many compile at once. A new folder is built with clang-14 where it is installed
# (scripts/deps.sh installs it): it compiles the tree in four fifths of gcc's time. A folder keeps
# the compiler it was first configured with; CC and CXX choose another for a new one.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
compiler=()
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ] && [ -z "${CXX:-}" ] && command -v clang++-14 >/dev/null; then
  compiler=(-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
  -DPENWICK_WERROR=${PENWICK_WERROR:-ON} "${compiler[@]}" "$@"
cmake --build "$BUILD_DIR" -j"$(scripts/build-jobs.sh)" --target ${BUILD_TARGETS:-all benchmarks}
