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

# --- Wayland: the display end-to-end tests again, on a headless weston (PENWICK_SKIP_WAYLAND=1
# skips them). Weston runs as root too, given a private 0700 runtime folder; --debug lets the
# tests read window geometry from the compositor (scene graph, protocol log); --idle-time=0 keeps
# its output from going to sleep in the middle of a run.
if [ "${PENWICK_SKIP_WAYLAND:-0}" != "1" ]; then
  wl_runtime=$(mktemp -d -t penwick-wayland-XXXXXX)
  chmod 700 "$wl_runtime"
  XDG_RUNTIME_DIR="$wl_runtime" weston --backend=headless-backend.so --socket=penwick-test \
    --width=1280 --height=1024 --debug --idle-time=0 >"$wl_runtime/weston.log" 2>&1 &
  weston_pid=$!
  for _ in $(seq 100); do [ -S "$wl_runtime/penwick-test" ] && break; sleep 0.1; done
  wl_status=0
  XDG_RUNTIME_DIR="$wl_runtime" WAYLAND_DISPLAY=penwick-test GDK_BACKEND=wayland \
    ctest --test-dir build -L e2e -R '^e2e\.Wayland\.' --output-on-failure --timeout 180 || wl_status=$?
  kill "$weston_pid" 2>/dev/null || true
  wait "$weston_pid" 2>/dev/null || true
  rm -rf "$wl_runtime"
  [ "$wl_status" -eq 0 ] || exit "$wl_status"
fi

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
