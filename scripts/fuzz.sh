#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/ (or $FUZZ_BUILD_DIR), runs the unit tests there once, then runs every target for the
# given number of seconds each (default 600), $PENWICK_FUZZ_JOBS (default 2) at a time, after
# replaying each corpus whole. Targets start from a copy of fuzz/corpus/<target> kept in the build
# folder; the tree's corpus is never written. Prints the executions per target and fails on any finding, keeping the input
# under <build>/fuzz-findings/. PENWICK_FUZZ_SKIP_UNIT=1 skips the unit tests; naming targets after
# the seconds runs only those; PENWICK_FUZZ_BUILD_ONLY=1 stops after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-600}
shift || true
BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
JOBS=${PENWICK_FUZZ_JOBS:-2}
ALL_TARGETS=(config_xml page_call base64 filesystem_url file_actions file_scheme beneath_resolver channel_frames channel_payloads)
TARGETS=("${@:-${ALL_TARGETS[@]}}")

# Longest input per target: long enough for every shape the parser knows, short enough that the
# known costs of deep nesting and large pretty-printed results do not drown the run.
declare -A MAX_LEN=([config_xml]=4096 [page_call]=4096 [base64]=4096
  [filesystem_url]=1024 [file_actions]=512 [file_scheme]=1024 [beneath_resolver]=256 [channel_frames]=4096 [channel_payloads]=4096)
declare -A DICT=([config_xml]=config_xml.dict [page_call]=json.dict
  [channel_payloads]=json.dict)

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPENWICK_FUZZ=ON -DPENWICK_BUILD_BENCH=OFF -DPENWICK_WERROR="${PENWICK_WERROR:-ON}" >/dev/null
fi
# One binary holds every target (fuzz/CMakeLists.txt).
build_targets=(penwick_fuzz)
if [ "${PENWICK_FUZZ_SKIP_UNIT:-0}" != "1" ]; then
  for dir in tests/unit/*/; do build_targets+=("test_$(basename "$dir")"); done
fi
start=$SECONDS
cmake --build "$BUILD_DIR" -j"$(scripts/build-jobs.sh)" --target "${build_targets[@]}"
echo "Built in $((SECONDS - start)) s."
[ "${PENWICK_FUZZ_BUILD_ONLY:-0}" != "1" ] || exit 0

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
if [ "${PENWICK_FUZZ_SKIP_UNIT:-0}" != "1" ]; then
  echo "Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer:"
  if ! ctest --test-dir "$BUILD_DIR" -L unit --output-on-failure -j2 --timeout 300 >"$BUILD_DIR/unit-tests.log" 2>&1; then
    tail -n 40 "$BUILD_DIR/unit-tests.log"
    echo "Unit tests failed under the sanitizers; see $BUILD_DIR/unit-tests.log." >&2
    exit 1
  fi
  grep "tests passed" "$BUILD_DIR/unit-tests.log"
  grep "Total Test time" "$BUILD_DIR/unit-tests.log"
fi

FINDINGS="$BUILD_DIR/fuzz-findings"
RUNS="$BUILD_DIR/fuzz-runs"
mkdir -p "$FINDINGS" "$RUNS"

run_target() {
  local t=$1 corpus="$BUILD_DIR/fuzz-corpus/$1" log="$RUNS/$1.log"
  mkdir -p "$corpus"
  # Seeds added to the tree since the last run join the copy; what the fuzzer found stays.
  cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  local args=(-max_total_time="$SECONDS_EACH" -max_len="${MAX_LEN[$t]}" -timeout=10 -rss_limit_mb=2048
    -print_final_stats=1 -artifact_prefix="$FINDINGS/$t-")
  if [ -n "${DICT[$t]:-}" ]; then args+=(-dict="fuzz/${DICT[$t]}"); fi
  local status=0
  # Every input of the corpus once, however short the timed run after it.
  "$BUILD_DIR/fuzz/fuzz_$t" -runs=0 "${args[@]:1}" "$corpus" >"$log" 2>&1 || status=$?
  [ "$status" -ne 0 ] || "$BUILD_DIR/fuzz/fuzz_$t" "${args[@]}" "$corpus" >>"$log" 2>&1 || status=$?
  local execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    printf '%-18s %12s executions in %s s, corpus %s inputs\n' "$t" "${execs:-?}" "$SECONDS_EACH" "$(ls "$corpus" | wc -l)"
  else
    printf '%-18s FINDING after %s executions (exit %s); input: %s\n' "$t" "${execs:-?}" "$status" \
      "$(grep -o "Test unit written to .*" "$log" | tail -n 1 | sed 's/Test unit written to //')"
    grep -E "ERROR|SUMMARY|property broken|runtime error" "$log" | head -n 5 | sed 's/^/    /'
    echo "    full log: $log"
    return 1
  fi
}

echo "Fuzzing ${#TARGETS[@]} targets for $SECONDS_EACH s each, $JOBS at a time:"
failed=0
running=0
for t in "${TARGETS[@]}"; do
  if [ "$running" -ge "$JOBS" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$t" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then
  echo "Fuzzing found problems; the inputs are in $FINDINGS." >&2
  exit 1
fi
