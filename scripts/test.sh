#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the layer and type checks; the end-to-end
# tests against the real app, several at once, each on an X server of its own; the Wayland ones on
# a headless weston; the unit tests under ThreadSanitizer; then built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer: the unit tests, every fuzz target's corpus
# replayed and a short run of each. Switches: PENWICK_SKIP_WAYLAND=1, PENWICK_SKIP_TSAN=1,
# PENWICK_SKIP_FUZZ=1 skip their parts (without the last, the unit tests run in the first build);
# PENWICK_FUZZ_SECONDS sets the run per fuzz target after its corpus is replayed (default 3);
# PENWICK_E2E_JOBS how many end-to-end tests run at once (default 4). Each part's wall-clock and
# CPU time is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

# CPU seconds of the children this shell has waited for (`times` in this shell, not a subshell).
times_file=$(mktemp)
cpu_seconds() {
  times >"$times_file"
  tail -n 1 "$times_file" | awk '{ split($0, f, /[ms]+/); print f[1] * 60 + f[2] + f[3] * 60 + f[4] }'
}
timings=()
# A part left running in the background (when an earlier part failed) goes with the script.
kill_tree() {
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
report() {
  if [ -n "${sanitizer_pid:-}" ] && kill -0 "$sanitizer_pid" 2>/dev/null; then kill_tree "$sanitizer_pid"; fi
  rm -f "$times_file" "$times_file.before" "$times_file.after"
  [ "${#timings[@]}" -gt 0 ] || return 0
  echo "Time per part (wall, CPU of its processes):"
  printf '  %s\n' "${timings[@]}"
}
trap report EXIT
# Runs the rest of the line as one part and keeps its times.
part() {
  local name=$1 start=$SECONDS cpu
  shift
  cpu_seconds >"$times_file.before"
  "$@"
  cpu_seconds >"$times_file.after"
  cpu=$(cat "$times_file.after" "$times_file.before" | awk 'NR == 1 { a = $1 } NR == 2 { print a - $1 }')
  timings+=("$(printf '%-22s %5d s wall %7.0f s CPU' "$name" $((SECONDS - start)) "$cpu")")
}

part deps scripts/deps.sh
# The tests read the app's log lines as UTF-8 text; a console charset that is not (LANG=C) has the
# app escape what ASCII lacks.
if [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then export LC_ALL=C.UTF-8; fi
# Benchmarks are not tests: they are built on demand, not here.
# A warning fails these builds.
export PENWICK_WERROR=ON
# The unit tests run in the sanitizer builds below (every one under AddressSanitizer, those with
# threads under ThreadSanitizer too); this build compiles them only when those are skipped.
unit_tests=ON
if [ "${PENWICK_SKIP_FUZZ:-0}" != "1" ]; then unit_tests=OFF; fi
part build env BUILD_TARGETS=all scripts/build.sh -DPENWICK_UNIT_TESTS=$unit_tests

# The channel, display, host and platform unit tests run everything on the test's one thread (they
# start no thread at all, `strace -f -e trace=clone,clone3` shows): nothing for ThreadSanitizer to
# see there, so they are neither built nor run under it. A folder whose code starts a thread leaves
# this list.
tsan_skip="channel|display|host|platform"
# clang compiles it in two thirds of the time gcc takes (the fuzz build needs clang anyway).
tsan_build() {
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPENWICK_TSAN=ON -DPENWICK_BUILD_BENCH=OFF \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DPENWICK_WERROR="$PENWICK_WERROR" >/dev/null
  local targets=()
  for dir in tests/unit/*/; do
    [[ $(basename "$dir") =~ ^($tsan_skip)$ ]] || targets+=("test_$(basename "$dir")")
  done
  cmake --build build-tsan -j"$(scripts/build-jobs.sh)" --target "${targets[@]}"
}
# The sanitizer builds compile at the lowest priority beside the tests below, which mostly wait on
# their displays and the engine; their own tests run once both builds are done.
sanitizer_builds() {
  if [ "${PENWICK_SKIP_TSAN:-0}" != "1" ]; then tsan_build; fi
  if [ "${PENWICK_SKIP_FUZZ:-0}" != "1" ]; then PENWICK_FUZZ_BUILD_ONLY=1 scripts/fuzz.sh; fi
}
sanitizer_log=$(mktemp -t penwick-sanitizer-builds-XXXXXX.log)
( renice -n 19 "$BASHPID" >/dev/null; sanitizer_builds ) >"$sanitizer_log" 2>&1 &
sanitizer_pid=$!
# Once the tests above are done nothing else needs the processors: what the builds have left is
# finished at normal priority (on a busy machine the lowest one would starve them). ninja picks
# up where the stopped build left off.
wait_sanitizer_builds() {
  if kill -0 "$sanitizer_pid" 2>/dev/null; then
    kill_tree "$sanitizer_pid"
    wait "$sanitizer_pid" 2>/dev/null || true
    sanitizer_builds >>"$sanitizer_log" 2>&1 &
    sanitizer_pid=$!
  fi
  if ! wait "$sanitizer_pid"; then
    tail -n 60 "$sanitizer_log"
    echo "The sanitizer builds failed; the whole log is $sanitizer_log." >&2
    return 1
  fi
  rm -f "$sanitizer_log"
}

# End-to-end tests bring their own X server (an Xvfb per test process) and neither need nor
# disturb the user's display.
export -n DISPLAY WAYLAND_DISPLAY 2>/dev/null || true
unset DISPLAY WAYLAND_DISPLAY
part checks ctest --test-dir build -LE e2e --output-on-failure -j2 --timeout 180
part e2e-x11 ctest --test-dir build -L e2e -E '^e2e\.Wayland\.' --output-on-failure -j"${PENWICK_E2E_JOBS:-4}" --timeout 180

# --- Wayland: the display end-to-end tests again, on a headless weston. They read window
# geometry from that one compositor, so they run one at a time. Weston runs as root too, given a
# private 0700 runtime folder; --debug lets the tests read window geometry from the compositor
# (scene graph, protocol log); --idle-time=0 keeps its output from going to sleep in the middle
# of a run.
wayland() {
  local wl_runtime weston_pid wl_status=0
  wl_runtime=$(mktemp -d -t penwick-wayland-XXXXXX)
  chmod 700 "$wl_runtime"
  XDG_RUNTIME_DIR="$wl_runtime" weston --backend=headless-backend.so --socket=penwick-test \
    --width=1280 --height=1024 --debug --idle-time=0 >"$wl_runtime/weston.log" 2>&1 &
  weston_pid=$!
  for _ in $(seq 300); do [ -S "$wl_runtime/penwick-test" ] && break; sleep 0.1; done
  XDG_RUNTIME_DIR="$wl_runtime" WAYLAND_DISPLAY=penwick-test GDK_BACKEND=wayland \
    ctest --test-dir build -L e2e -R '^e2e\.Wayland\.' --output-on-failure --timeout 180 || wl_status=$?
  kill "$weston_pid" 2>/dev/null || true
  wait "$weston_pid" 2>/dev/null || true
  rm -rf "$wl_runtime"
  return "$wl_status"
}
if [ "${PENWICK_SKIP_WAYLAND:-0}" != "1" ]; then
  part e2e-wayland wayland
fi
part sanitizer-builds wait_sanitizer_builds
if [ "${PENWICK_SKIP_TSAN:-0}" != "1" ]; then
  part tsan-unit env TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build-tsan -L unit -E "^($tsan_skip)\\." --output-on-failure -j2
fi

if [ "${PENWICK_SKIP_FUZZ:-0}" != "1" ]; then
  part asan-unit-fuzz scripts/fuzz.sh "${PENWICK_FUZZ_SECONDS:-3}"
fi
