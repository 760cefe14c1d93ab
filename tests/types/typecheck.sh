#!/usr/bin/env bash
# Type-checks app.ts against the page library's types the way an app gets them: www/webhost/
# installed with npm, then `tsc --strict --noEmit`. TypeScript comes from npm, cached in the build
# folder; without npm or the registry the test is skipped (exit 77).
# Usage: typecheck.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 cache=$2/npm-cache/typescript-5.9.3
tsc=$cache/node_modules/typescript/bin/tsc
if [ ! -f "$tsc" ] && ! npm install --prefix "$cache" --no-audit --no-fund --loglevel=error --fetch-timeout=30000 --fetch-retries=1 typescript@5.9.3 >/dev/null 2>&1; then
  echo "SKIPPED: npm or the package registry is unreachable: could not install typescript@5.9.3"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$src/tests/types/app.ts" "$src/tests/types/tsconfig.json" "$work/"
# A folder dependency is linked, not fetched: no registry needed.
(cd "$work" && npm install --offline --no-audit --no-fund --loglevel=error "$src/www/webhost" >/dev/null)
node "$tsc" -p "$work" --strict --noEmit
echo "the example app type-checks, and every wrong call in it is refused"
