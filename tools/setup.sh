#!/usr/bin/env bash
# Installs what Korrin Tavrel needs to build, play and test on Debian 12
# (only the packages that are missing), then builds it into build/.
# Sourced by play.sh and test.sh; run on its own it just sets up and builds.
set -euo pipefail

KORRIN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

KORRIN_PACKAGES=(
  g++ cmake make pkg-config
  libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev libsdl-mixer1.2-dev
  # the network match's transport
  libenet-dev
  # rooms: MQTT brokers (Eclipse Paho C), the sealed messages (OpenSSL) in JSON,
  # and what libdatachannel, built with the game, takes from the system
  libpaho-mqtt-dev libssl-dev nlohmann-json3-dev libusrsctp-dev
  # the other SDL 1.2 runtime (over SDL2), installed beside the classic one,
  # which stays the system's: the tests run on both
  libsdl1.2-compat
  # tests: GoogleTest, a virtual X display with key presses and screenshots, leak checks
  googletest libgtest-dev python3 xvfb xauth xdotool imagemagick valgrind
  # tests of rooms: a local MQTT broker and TURN server
  mosquitto coturn
  # tests of the desktop window: a window manager that honours fullscreen,
  # WM_DELETE_WINDOW sent as a window manager does, window properties
  openbox python3-xlib x11-utils
  # the guards of tools/test.sh: formatting, static analysis, and the fuzzers
  # of the replay reader and the network's packet reader (clang's libFuzzer;
  # zlib for the replay's checksums)
  clang-format cppcheck clang-14 libclang-rt-14-dev zlib1g-dev
  # the asset generator, which the tests run to check the committed assets
  python3-pil python3-numpy python3-fonttools
)

korrin_install_packages() {
  local missing=()
  for pkg in "${KORRIN_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Where libsdl1.2-compat puts its libSDL-1.2.so.0: LD_LIBRARY_PATH on this
# folder runs the game on sdl12-compat instead of the classic SDL 1.2.
korrin_sdl12_compat_dir() {
  echo "/usr/lib/$(gcc -print-multiarch)/sdl12-compat"
}

# libdatachannel, built once into build-deps/ for the builds that follow to
# share (cmake/datachannel/; a build finds an installed one first).
korrin_datachannel_prefix() {
  local deps="$KORRIN_ROOT/build-deps"
  if [ ! -e "$deps/installed" ]; then
    cmake -S "$KORRIN_ROOT/cmake/datachannel" -B "$deps" -DCMAKE_INSTALL_PREFIX="$deps/prefix" >/dev/null
    cmake --build "$deps" -j"$(nproc)" >/dev/null
    cmake --install "$deps" >/dev/null
    touch "$deps/installed"
  fi
  echo "$deps/prefix"
}

# korrin_build DIR [cmake options...]
korrin_build() {
  local dir="$1"
  shift
  cmake -S "$KORRIN_ROOT" -B "$KORRIN_ROOT/$dir" -DCMAKE_PREFIX_PATH="$(korrin_datachannel_prefix)" "$@" >/dev/null
  cmake --build "$KORRIN_ROOT/$dir" -j"$(nproc)"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  korrin_install_packages
  korrin_build build
fi
