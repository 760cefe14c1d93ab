#!/usr/bin/env bash
# Builds the host and opens the demo application. Without a display it runs under Xvfb.
# Arguments go to the app (e.g. --screenshot demo.png, --resources DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh >/dev/null
APP=build/src/penwick
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$APP" "$@"
fi
echo "No display: running under Xvfb."
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$APP" "$@"
