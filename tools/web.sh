#!/usr/bin/env bash
# Builds the web version of Korrin Tavrel into build-web/ (index.html,
# index.js, index.wasm, index.data, icon.png, the page's modules (page.js,
# touch.js, online.js, recordings.js, offline.js and numbers.js),
# the manifest and its icons, and the service worker that plays it offline),
# installing what is missing first:
# Debian's Emscripten, which compiles the game's own sources (CMakeLists.txt,
# through emcmake) against its built-in SDL 1.2, plus what the web build adds
# in web/ (a header, JavaScript libraries replacing some of Emscripten's SDL
# functions, the page and its scripts).
# Serve the folder from any static web host, or locally:
#   python3 -m http.server --directory build-web 8000
# Online play adds online.js (the page's part) and korrin-online.js (the
# signalling code, which the page loads only for an online match), bundled
# from web/online/ with the npm packages its package-lock.json pins.
# With --with-test-tools it also installs Chromium, Firefox ESR, a local MQTT
# broker and TURN server, and the test's npm packages (tests/web/), which the
# web tests and the benchmark need.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# Debian's node comes without npm; nodesource's node carries its own.
KORRIN_PACKAGES=(emscripten python3 nodejs)
command -v npm >/dev/null || KORRIN_PACKAGES+=(npm)
if [ "${1:-}" = "--with-test-tools" ]; then
  KORRIN_PACKAGES+=(chromium firefox-esr mosquitto coturn)
fi
korrin_install_packages
if [ "${1:-}" = "--with-test-tools" ]; then
  # puppeteer-core drives the system's browsers and downloads none.
  [ -d "$KORRIN_ROOT/tests/web/node_modules/puppeteer-core" ] ||
    npm ci --prefix "$KORRIN_ROOT/tests/web" --no-audit --no-fund --loglevel=error
fi

# Emscripten's tools are node scripts that need Debian's node modules, also
# where the node on the PATH is not Debian's; and Debian's python3.
export NODE_PATH=/usr/share/nodejs EMSDK_PYTHON=/usr/bin/python3

# The same CMakeLists.txt as the native build, through Emscripten's CMake
# wrapper: it takes the game's sources by layer and gives it its version.
cmake_dir="$KORRIN_ROOT/build-web-cmake"
out="$KORRIN_ROOT/build-web"
emcmake cmake -S "$KORRIN_ROOT" -B "$cmake_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$cmake_dir" -j"$(nproc)"
rm -rf "$out"
mkdir -p "$out"
cp "$cmake_dir"/index.{html,js,wasm,data} "$out/"
cp "$KORRIN_ROOT/img/icon.png" "$out/icon.png" # the page's icon, the game's own
cp "$KORRIN_ROOT"/web/{page,online,recordings,touch,offline,numbers}.js "$KORRIN_ROOT/web/manifest.webmanifest" "$out/"
cp "$KORRIN_ROOT"/web/icons/*.png "$out/" # the home screen's icons
# The signalling code: the room's messages over the mqtt client, and the data
# channels, one minified module.
online="$KORRIN_ROOT/web/online"
[ -d "$online/node_modules/mqtt" ] ||
  npm ci --prefix "$online" --no-audit --no-fund --loglevel=error
"$online/node_modules/.bin/esbuild" "$online/link.mjs" --bundle --format=esm --minify \
  --target=es2020 --log-level=warning --outfile="$out/korrin-online.js"
# Last: the service worker, with this build's version and every file above.
/usr/bin/python3 "$KORRIN_ROOT/tools/offline_files.py" "$out"
echo "Built $out/"
