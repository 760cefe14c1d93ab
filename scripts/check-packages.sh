#!/usr/bin/env bash
# Checks the packages the way users meet them, on this machine, as root (docs/shipping.md):
#  1. builds the runtime's .deb (scripts/package-runtime.sh; or takes RUNTIME_DEB=path) and
#     installs it with apt-get;
#  2. packs a data-only app with penwick-pack (traced: no compiler runs; timed: under 10 s),
#     installs it with apt-get, validates its AppStream metadata, starts it twice from its desktop
#     entry under Xvfb and sees a file it wrote on the first start read back on the second;
#  3. removes the app with apt-get and sees the runtime still open its demo;
#  4. builds the native-plugin app of docs/native-plugins.md against the installed runtime
#     (find_package(Penwick)): only its own sources compile, and its plugin answers;
#  5. with npm (and the npm registry) at hand, a TypeScript app importing '/_webhost/webhost.mjs'
#     as the docs say: tsc --strict, vite build and the vite dev server (SKIP_VITE=1 skips it).
# Leaves the machine as it found it: the packages its installs added are purged, everything else
# lives in a temporary folder that is removed. Not part of scripts/test.sh (root, apt, network).
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "check-packages.sh: $*" >&2; exit 1; }
step() { echo "== $*"; }
[ "$(id -u)" -eq 0 ] || { echo "check-packages.sh: run as root: it installs and removes packages with apt-get" >&2; exit 2; }
if dpkg-query -W -f='${Status}' penwick 2>/dev/null | grep -q 'install ok installed'; then
  echo "check-packages.sh: penwick is installed already; this check installs and removes it, so remove it first" >&2
  exit 2
fi

work=$(mktemp -d -t penwick-check-XXXXXX)
added=$work/added.txt
: >"$added"
server=""
installed() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }' | sort; }
# Installs with apt-get and notes what that added, for the clean-up to purge.
apt_install() {
  local before=$work/before.txt
  installed >"$before"
  DEBIAN_FRONTEND=noninteractive apt-get install -y "$@" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; return 1; }
  installed | comm -13 "$before" - >>"$added"
}
cleanup() {
  set +e # every step of the clean-up runs, whatever one of them answers
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  local purge
  purge=$(installed | comm -12 - <(sort -u "$added") | tr '\n' ' ')
  if [ -n "$purge" ]; then
    echo "== clean-up: purging $purge"
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get purge -y $purge >"$work/apt.log" 2>&1 || cat "$work/apt.log" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The runs below keep their storage and settings in the temporary folder, not the user's.
home=$work/home
mkdir -p "$home"
run_env=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
  XDG_CACHE_HOME="$home/cache")
xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp")
missing=()
for tool in strace:strace xvfb-run:xvfb xauth:xauth appstreamcli:appstream cmake:cmake ninja:ninja-build g++:g++ curl:curl; do
  command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  step "installing the check's tools: ${missing[*]}"
  apt_install "${missing[@]}"
fi

step "1. the runtime package"
deb=${RUNTIME_DEB:-}
if [ -z "$deb" ]; then
  deb=$(nice -n 19 scripts/package-runtime.sh | tail -n 1)
fi
[ -f "$deb" ] || fail "no runtime package at '$deb'"
deb=$(readlink -f "$deb")
apt_install "$deb"
command -v penwick-pack >/dev/null || fail "the runtime package installed no penwick-pack"

step "2. a data-only app, packed by penwick-pack and installed with apt-get"
app=$work/app
mkdir -p "$app/www"
cat >"$app/config.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<widget id="org.example.RoundTrip" version="1.2.0">
    <name short="Remembers its last start in a file">Round Trip</name>
    <description>Writes a file with the file plugin and reads it back on the next start.</description>
    <author href="https://roundtrip.example.com/" email="dev@roundtrip.example.com">Round Trip Developers</author>
    <license>MIT</license>
    <content src="index.html"/>
    <preference name="AppOrigin" value="true"/>
    <feature name="File">
        <param name="osx-package" value="WHFile"/>
        <param name="onload" value="true"/>
    </feature>
</widget>
EOF
# Each start reads what the previous one wrote to starts.txt and records both in seen.txt.
cat >"$app/www/index.html" <<'EOF'
<!doctype html>
<meta charset="utf-8">
<title>Round Trip</title>
<p id="state">starting</p>
<script type="module">
  import { file, nativeReady } from '/_webhost/webhost.mjs';
  const state = document.getElementById('state');
  try {
    await nativeReady;
    const root = file.urlOf((await file.requestFileSystem(1)).root);
    let before = 'none';
    try {
      before = await file.readAsText(file.urlOf(await file.getFile(root, 'starts.txt')));
    } catch (error) {
      if (error.code !== 1) throw error;
    }
    const starts = before === 'none' ? 1 : Number(before.split(' ')[1]) + 1;
    await file.write(file.urlOf(await file.getFile(root, 'starts.txt', { create: true })), `start ${starts}`);
    await file.write(file.urlOf(await file.getFile(root, 'seen.txt', { create: true })), `start ${starts} read: ${before}`);
    state.textContent = `start ${starts}, read: ${before}`;
  } catch (error) {
    state.textContent = `failed: ${error.code} ${error.message}`;
  }
</script>
EOF
cat >"$app/icon.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128"><circle cx="64" cy="64" r="56" fill="#2563eb"/></svg>
EOF
start=$(date +%s%N)
strace -f -qq -e trace=execve -o "$work/pack.trace" penwick-pack "$app" --output "$work/dist" >"$work/pack.log" 2>&1 \
  || { cat "$work/pack.log" >&2; fail "penwick-pack failed"; }
ms=$((($(date +%s%N) - start) / 1000000))
app_deb=$(tail -n 1 "$work/pack.log")
echo "packed in $ms ms (traced): $app_deb"
ran=$(grep -o 'execve("[^"]*"' "$work/pack.trace" | grep -v ENOENT | sed 's/execve("//; s/"$//' | xargs -n1 basename | sort -u | tr '\n' ' ')
echo "programs run: $ran"
if grep -Eq 'execve\("[^"]*/(cc1plus|cc1|ld|collect2|cmake|ninja)"' "$work/pack.trace"; then
  fail "packing ran a compiler or a build tool"
fi
[ "$ms" -lt 10000 ] || fail "packing took $ms ms, not under 10 s"
apt_install "$app_deb"
id=org.example.RoundTrip
entry=/usr/share/applications/$id.desktop
metainfo=/usr/share/metainfo/$id.metainfo.xml
[ -f "$entry" ] && [ -f "$metainfo" ] && [ -x /usr/bin/roundtrip ] || fail "the app's launcher, desktop entry or metainfo is missing"
appstreamcli validate --no-net "$metainfo" | tee "$work/validate.log" || fail "appstreamcli validate failed"
grep -q '<url type="homepage">https://roundtrip.example.com/</url>' "$metainfo" || fail "the metainfo lacks the app's homepage"
grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "the metainfo lacks the app's licence"
! grep -qi 'example.org\|penwick' "$metainfo" || fail "the metainfo names the host: $(cat "$metainfo")"
! grep -Eqi 'url|license' "$work/validate.log" || fail "appstreamcli has notes on the homepage or licence"

# Starts the app as the desktop would, from its entry's Exec line, and waits (up to 180 s) for the
# page to record its start in the file system; then ends the app.
start_from_entry() {
  local exec_line seen=$home/data/$id/files/seen.txt log=$work/start-$1.log pid child
  exec_line=$(sed -n 's/^Exec=//p' "$entry" | head -n 1 | sed 's/ %[fFuUick]//g')
  rm -f "$seen"
  "${run_env[@]}" "${xvfb[@]}" sh -c "exec $exec_line" >"$log" 2>&1 &
  pid=$!
  for _ in $(seq 360); do
    [ -s "$seen" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
  done
  for child in $(pgrep -P "$pid" || true); do
    [ "$(readlink "/proc/$child/exe" 2>/dev/null)" = /usr/bin/penwick ] && kill "$child" 2>/dev/null || true
  done
  wait "$pid" 2>/dev/null || true
  [ -s "$seen" ] || { cat "$log" >&2; fail "start $1 from $entry ($exec_line): the page recorded nothing"; }
  cat "$seen"
}
first=$(start_from_entry 1)
second=$(start_from_entry 2)
echo "first start: $first; second start: $second"
[ "$first" = "start 1 read: none" ] && [ "$second" = "start 2 read: start 1" ] || fail "the file did not last from one start to the next"

step "3. apt-get remove of the app leaves the runtime working"
DEBIAN_FRONTEND=noninteractive apt-get remove -y roundtrip >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get remove failed"; }
[ ! -e /usr/bin/roundtrip ] && [ ! -e "/usr/share/$id" ] || fail "the app's files stayed"
"${run_env[@]}" "${xvfb[@]}" timeout 300 penwick --dump-dom "$work/demo.html" >"$work/demo.log" 2>&1 || { cat "$work/demo.log" >&2; fail "the demo did not run"; }
grep -q 'class="chip ready">host ready<' "$work/demo.html" || { cat "$work/demo.log" >&2; fail "the demo's page did not reach the host"; }
echo "the demo runs"

step "4. a native-plugin app built against the installed runtime"
greeter=$work/greeter
docs=/usr/share/doc/org.penwick.Host/docs
mkdir -p "$greeter/src" "$greeter/app/www"
# The example as the installed documentation gives it: the plugin and config.xml from the native
# plugins page, the CMake project from the shipping page.
example() { awk -v name="$2" '$0 ~ "^```[a-z]+ example=" name "$" { on = 1; next } on && /^```$/ { exit } on { print }' "$1"; }
example "$docs/native-plugins.md" src/GreeterPlugin.cpp >"$greeter/src/GreeterPlugin.cpp"
example "$docs/native-plugins.md" app/config.xml >"$greeter/app/config.xml"
awk '/^## An app with native plugins/ { in_section = 1 } in_section && /^```cmake$/ { on = 1; next } on && /^```$/ { exit } on { print }' \
  "$docs/shipping.md" >"$greeter/CMakeLists.txt"
[ -s "$greeter/src/GreeterPlugin.cpp" ] && [ -s "$greeter/app/config.xml" ] && grep -q 'find_package(Penwick' "$greeter/CMakeLists.txt" \
  || fail "the installed docs lack the native plugin example"
cat >"$greeter/app/www/index.html" <<'EOF'
<!doctype html>
<meta charset="utf-8">
<title>Greeter</title>
<p id="answer">waiting</p>
<script type="module">
  import { exec, nativeReady } from '/_webhost/webhost.mjs';
  const answer = document.getElementById('answer');
  window.penwickCaptureReady = nativeReady
    .then(() => exec.promise('Greeter', 'greet', ['Ann']))
    .then((greeting) => { answer.textContent = `answer: ${greeting}`; },
          (error) => { answer.textContent = `failed: ${error.code} ${error.message}`; });
</script>
EOF
(cd "$greeter" && cmake -S . -B build -G Ninja && nice -n 10 cmake --build build) >"$work/greeter.log" 2>&1 \
  || { cat "$work/greeter.log" >&2; fail "the native-plugin app did not build"; }
compiled=$(sed -n 's/.*Building CXX object CMakeFiles\/greeter.dir\/\(.*\)\.o$/\1/p' "$work/greeter.log" | xargs -n1 basename | sort | tr '\n' ' ')
echo "compiled: $compiled"
[ "$compiled" = "GreeterPlugin.cpp main.cpp " ] || fail "the app compiled more than its plugin and entry point: $compiled"
cmake --install "$greeter/build" --prefix "$greeter/installed" >>"$work/greeter.log" 2>&1 || fail "the native-plugin app did not install"
for greeter_exe in "$greeter/build/greeter" "$greeter/installed/bin/greeter"; do
  "${run_env[@]}" "${xvfb[@]}" timeout 300 "$greeter_exe" --dump-dom "$work/greeter.html" >"$work/greeter-run.log" 2>&1 \
    || { cat "$work/greeter-run.log" >&2; fail "$greeter_exe did not run"; }
  grep -q '<p id="answer">answer: Hello, Ann!</p>' "$work/greeter.html" \
    || { cat "$work/greeter-run.log" >&2; fail "$greeter_exe: the plugin did not answer: $(grep -o '<p id="answer">[^<]*' "$work/greeter.html")"; }
  echo "$greeter_exe: the plugin answers"
done

step "5. Vite and TypeScript with the installed page library"
if [ -n "${SKIP_VITE:-}" ] || ! command -v npm >/dev/null; then
  echo "skipped (SKIP_VITE set, or no npm)"
else
  vite=$work/vite
  mkdir -p "$vite/src"
  cd "$vite"
  npm init -y >/dev/null
  npm pkg set type=module >/dev/null
  npm install --no-audit --no-fund vite typescript /usr/share/penwick/webhost >"$work/npm.log" 2>&1 || { cat "$work/npm.log" >&2; fail "npm install failed"; }
  cat >index.html <<'EOF'
<!doctype html>
<title>Vite check</title>
<p id="out"></p>
<script type="module" src="/src/main.ts"></script>
EOF
  cat >src/main.ts <<'EOF'
import { exec, file, nativeReady, type WebhostError } from '/_webhost/webhost.mjs';

async function main(): Promise<void> {
  await nativeReady;
  const root = file.urlOf((await file.requestFileSystem(1)).root);
  const text: string = await file.readAsText(file.urlOf(await file.getFile(root, 'note.txt')));
  exec<number>((uptime) => console.log(uptime + 1), (error) => console.log((error as WebhostError).code), 'Device', 'uptime', []);
  document.getElementById('out')!.textContent = text;
}
window.penwickCaptureReady = main();
EOF
  cat >tsconfig.json <<'EOF'
{
  "compilerOptions": {
    "target": "ES2022", "module": "ESNext", "moduleResolution": "bundler", "lib": ["ES2022", "DOM"],
    "strict": true, "noEmit": true, "types": ["webhost/ambient"]
  },
  "include": ["src"]
}
EOF
  cat >vite.config.js <<'EOF'
import webhost from 'webhost/vite';
export default { base: './', plugins: [webhost()] };
EOF
  npx tsc --strict --noEmit || fail "tsc --strict failed"
  npx vite build >"$work/vite-build.log" 2>&1 || { cat "$work/vite-build.log" >&2; fail "vite build failed"; }
  grep -q 'from"/_webhost/webhost.mjs"' dist/assets/*.js || fail "the build did not leave the import to the host"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  # Started directly (not through npx, which leaves its child running when ended).
  node_modules/.bin/vite --host 127.0.0.1 --port "$port" --strictPort >"$work/vite-dev.log" 2>&1 &
  server=$!
  for _ in $(seq 120); do curl -sf -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.5; done
  module=$(curl -sf "http://127.0.0.1:$port/src/main.ts") || { cat "$work/vite-dev.log" >&2; fail "the dev server did not serve src/main.ts"; }
  resolved=$(echo "$module" | sed -n 's/^import .* from "\(.*webhost\.mjs\)";$/\1/p')
  [ -n "$resolved" ] && curl -sf -o /dev/null "http://127.0.0.1:$port$resolved" \
    || { echo "$module" | head -n 3 >&2; cat "$work/vite-dev.log" >&2; fail "the dev server did not resolve '/_webhost/webhost.mjs'"; }
  ! grep -q 'Failed to resolve' "$work/vite-dev.log" || fail "$(cat "$work/vite-dev.log")"
  echo "tsc --strict, vite build and the dev server (import served as $resolved) work"
  cd - >/dev/null
fi
echo "== all checks passed"
