#!/usr/bin/env bash
# Builds the runtime's Debian package, `penwick`: the host, its web-process extension, the demo,
# penwick-pack, the page library and the documentation. Apps without native code are then packed
# with penwick-pack, without compiling (docs/shipping.md). Uses $BUILD_DIR (default build/, so that
# after scripts/run.sh only the packing is left); its path is printed last.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ -f "$BUILD_DIR/CMakeCache.txt" ] && ! grep -q '^PENWICK_APP_ID:STRING=org.penwick.Host$' "$BUILD_DIR/CMakeCache.txt"; then
  echo "package-runtime.sh: $BUILD_DIR builds another app; name a build folder for the runtime with BUILD_DIR=..." >&2
  exit 2
fi
BUILD_DIR=$BUILD_DIR exec scripts/package.sh
