#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: unit tests, then the end-to-end tests
# against the real app under a private Xvfb, then the unit tests again under ThreadSanitizer, then
# built with clang under AddressSanitizer and UndefinedBehaviorSanitizer, with a short run of every
# fuzz target (PENWICK_SKIP_FUZZ=1 skips that part; PENWICK_FUZZ_SECONDS sets the run, default 25).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh

# End-to-end tests get their own X server so they neither need nor disturb the user's display.
export -n DISPLAY WAYLAND_DISPLAY 2>/dev/null || true
unset DISPLAY WAYLAND_DISPLAY
ctest --test-dir build -LE e2e --output-on-failure -j2 --timeout 180
# One at a time: pointer and keyboard focus belong to the whole X server, and some tests drive
# real dialogs with xdotool. -noreset: Xvfb otherwise resets whenever its last client leaves, and
# an app starting during that reset cannot open the display.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  ctest --test-dir build -L e2e --output-on-failure --timeout 180

if [ "${PENWICK_SKIP_TSAN:-0}" != "1" ]; then
  BUILD_DIR=build-tsan
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPENWICK_TSAN=ON -DPENWICK_BUILD_BENCH=OFF >/dev/null
  targets=""
  for dir in tests/unit/*/; do targets="$targets test_$(basename "$dir")"; done
  cmake --build "$BUILD_DIR" -j"$(nproc)" --target $targets
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir "$BUILD_DIR" -L unit --output-on-failure -j2
fi

if [ "${PENWICK_SKIP_FUZZ:-0}" != "1" ]; then
  scripts/fuzz.sh "${PENWICK_FUZZ_SECONDS:-25}"
fi
