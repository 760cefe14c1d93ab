#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to CMake's configure step.
# BUILD_TARGETS names what is built (default: everything and the benchmarks). PENWICK_WERROR=ON
# makes warnings errors (scripts/test.sh sets it); otherwise they are only shown.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
  -DPENWICK_WERROR=${PENWICK_WERROR:-OFF} "$@"
cmake --build "$BUILD_DIR" -j"$(nproc)" --target ${BUILD_TARGETS:-all benchmarks}
