#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to CMake's configure step.
# BUILD_TARGETS names what is built (default: everything and the benchmarks). Warnings are errors
# as in scripts/test.sh (PENWICK_WERROR=OFF only shows them): both configure build/ alike, so that
# neither recompiles what the other built and one compiler cache serves both. PENWICK_BUILD_JOBS
# sets how many compile at once.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
  -DPENWICK_WERROR=${PENWICK_WERROR:-ON} "$@"
cmake --build "$BUILD_DIR" -j"$(scripts/build-jobs.sh)" --target ${BUILD_TARGETS:-all benchmarks}
