#!/usr/bin/env bash
# Builds only what the demo needs (the host and its web-process extension; scripts/test.sh builds
# the tests and benchmarks) and opens the demo application; returns when its window is closed.
# Without a display it runs under Xvfb, where nobody can close it: it then ends once the demo
# reports that it is ready (its "demo: ready" line), or after PENWICK_RUN_TIMEOUT seconds (default 120;
# another app's folder, --resources DIR, runs for that long, by default 30 s, and then ends).
# Arguments go to the app (e.g. --screenshot demo.png, --resources DIR, --dev).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build}
# Configured as scripts/test.sh configures it, so that neither undoes the other's work.
BUILD_DIR=$BUILD_DIR BUILD_TARGETS=penwick scripts/build.sh >/dev/null
APP=$BUILD_DIR/src/penwick
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$APP" "$@"
fi

# Another app (--resources DIR) never says "demo: ready": it runs for the timeout, which is then its
# normal end, and its log shows what it did.
own_app=0
for arg in "$@"; do
  case $arg in --resources | --resources=*) own_app=1 ;; esac
done
timeout=${PENWICK_RUN_TIMEOUT:-$([ "$own_app" = 1 ] && echo 30 || echo 120)}
if [ "$own_app" = 1 ]; then
  echo "No display: running the app under Xvfb for $timeout s (PENWICK_RUN_TIMEOUT)."
else
  echo "No display: running under Xvfb until the demo is ready."
fi
log=$(mktemp -t penwick-run-XXXXXX.log)
trap 'rm -f "$log"' EXIT
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$APP" "$@" >"$log" 2>&1 &
pid=$!
# Ends the app (xvfb-run's child running it), after which xvfb-run stops its server and returns.
stop() {
  local app child
  app=$(readlink -f "$APP")
  for child in $(pgrep -P "$pid" || true); do
    [ "$(readlink -f "/proc/$child/exe" 2>/dev/null)" = "$app" ] && kill "$child" 2>/dev/null || true
  done
}
status=0
stopped=0
deadline=$((SECONDS + timeout))
while kill -0 "$pid" 2>/dev/null; do
  if [ "$own_app" = 0 ] && grep -q "demo: ready" "$log"; then
    stop
    stopped=1
    break
  fi
  if [ "$SECONDS" -ge "$deadline" ]; then
    if [ "$own_app" = 0 ]; then
      echo "The demo did not report ready within $timeout s." >&2
      status=1
    fi
    stop
    stopped=1
    break
  fi
  sleep 0.5
done
# An app that ended by itself (a bad argument, a missing folder) answers with its own status.
wait "$pid" 2>/dev/null || { [ "$stopped" = 1 ] || status=$?; }
cat "$log"
exit "$status"
