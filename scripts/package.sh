#!/usr/bin/env bash
# Builds the application's Debian package with CPack (dependencies computed by dpkg-shlibdeps).
# Uses the build folder $BUILD_DIR (default build/); a new one is configured without tests.
# Arguments go to CMake's configure step (e.g. -DPENWICK_APP_ID=...).
# The .deb is written to $PACKAGE_DIR (default $BUILD_DIR/packages) and its path printed last.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
PACKAGE_DIR=${PACKAGE_DIR:-$BUILD_DIR/packages}

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  scripts/deps.sh
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
    -DPENWICK_BUILD_TESTS=OFF -DPENWICK_BUILD_BENCH=OFF "$@" >/dev/null
elif [ $# -gt 0 ] || [ ! -f "$BUILD_DIR/CPackConfig.cmake" ]; then
  cmake -S . -B "$BUILD_DIR" "$@" >/dev/null
fi
# Only the application and its web-process extension; tests are not packaged.
cmake --build "$BUILD_DIR" -j"$(nproc)" --target penwick >/dev/null

mkdir -p "$PACKAGE_DIR"
PACKAGE_DIR=$(cd "$PACKAGE_DIR" && pwd)
rm -f "$PACKAGE_DIR"/*.deb
cpack --config "$BUILD_DIR/CPackConfig.cmake" -G DEB -B "$PACKAGE_DIR" >"$PACKAGE_DIR/cpack.log" 2>&1 \
  || { cat "$PACKAGE_DIR/cpack.log" >&2; exit 1; }
deb=$(ls "$PACKAGE_DIR"/*.deb)
dpkg-deb --field "$deb" Package Version Depends
echo "$deb"
