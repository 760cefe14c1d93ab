#!/usr/bin/env bash
# Prints how many compile jobs the builds run at once: $PENWICK_BUILD_JOBS, else four more than
# processors (they keep the processors busy while jobs link or wait on the disk, and keep the build
# its share of a machine busy with other work), at most one per 1.5 GiB of available memory.
set -euo pipefail
if [ -n "${PENWICK_BUILD_JOBS:-}" ]; then
  echo "$PENWICK_BUILD_JOBS"
  exit 0
fi
jobs=$(($(nproc) + 4))
available_kib=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo 2>/dev/null || echo 0)
if [ "${available_kib:-0}" -gt 0 ]; then
  by_memory=$((available_kib / (1536 * 1024)))
  [ "$by_memory" -ge 1 ] || by_memory=1
  [ "$by_memory" -ge "$jobs" ] || jobs=$by_memory
fi
echo "$jobs"
