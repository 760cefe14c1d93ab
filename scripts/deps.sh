#!/usr/bin/env bash
# Installs the Debian packages the host needs to build, run and test (once; a no-op after).
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config ccache
  libwebkit2gtk-4.1-dev libgtk-3-dev libexpat1-dev nlohmann-json3-dev libxfixes-dev libxi-dev
  # msgfmt and xgettext for the host's translations (po/); locale data to try them with LANG.
  gettext locales
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils x11-xserver-utils openbox xserver-xorg-core xserver-xorg-video-dummy fonts-dejavu-core
  desktop-file-utils appstream dpkg-dev file
  # The packing test traces that nothing is compiled.
  strace
  # pgrep, for the test script to end what it left running in the background.
  procps
  # Desktop-session tests: a private session bus, the desktop's interface settings schema, and a
  # headless Wayland compositor with its debug tools (scene graph and protocol log).
  dbus-daemon libglib2.0-bin gsettings-desktop-schemas weston
  # Another X client's clipboard, for the clipboard tests.
  xclip
  # The fuzz build (scripts/fuzz.sh): clang and its runtimes, libFuzzer's among them.
  clang-14 libclang-rt-14-dev
  # A faster linker for every build.
  lld
)
# The test of a real library from the npm registry needs npm; a machine whose Node.js already
# brings it (and conflicts with Debian's npm) keeps its own.
if ! command -v npm >/dev/null 2>&1; then
  PACKAGES+=(npm)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# The host's languages as a desktop sets them (LANG=de_DE.UTF-8); glibc needs each locale made.
# The tests need only Turkish, whose case rules the device facts are read under; the others they
# set as LANGUAGE over C.UTF-8.
for l in de_DE ar_EG tr_TR; do
  locale -a | grep -qx "$l.utf8" || $SUDO localedef -i "$l" -f UTF-8 "$l.UTF-8"
done
