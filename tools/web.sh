#!/usr/bin/env bash
# Builds the web version of Korrin Tavrel into build-web/ (index.html,
# index.js, index.wasm, index.data, icon.png), installing what is missing first:
# Debian's Emscripten, which compiles the game's own sources against its
# built-in SDL 1.2, plus what the web build adds in web/ (a header, a
# JavaScript library replacing some of Emscripten's SDL functions, the page).
# Serve the folder from any static web host, or locally:
#   python3 -m http.server --directory build-web 8000
# With --with-test-tools it also installs Chromium, Firefox ESR and the
# test's npm packages (tests/web/), which the web tests and the benchmark need.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

KORRIN_PACKAGES=(emscripten python3)
if [ "${1:-}" = "--with-test-tools" ]; then
  KORRIN_PACKAGES+=(chromium firefox-esr)
  # Debian's node comes without npm; nodesource's node carries its own.
  command -v npm >/dev/null || KORRIN_PACKAGES+=(npm)
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

cd "$KORRIN_ROOT"
# Every game source but those listed as native-only (comments and blank
# lines aside).
mapfile -t native_only < <(grep -v '^[[:space:]]*\(#\|$\)' web/native-only.txt || true)
sources=()
for source in src/*.cpp; do
  [[ " ${native_only[*]} " == *" $(basename "$source") "* ]] || sources+=("$source")
done
# What the browser has in place of the native-only modules.
sources+=(web/*.cpp)

# The game's version, as CMake gives it to the native build.
version=$(sed -n 's/^project(KorrinTavrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

out=build-web
rm -rf "$out"
mkdir -p "$out"
flags=(
  -std=c++17 -O2 -Wall -Wextra
  -Isrc -include web/sdl_web.h -DKORRIN_VERSION="\"$version\""
  # The game's loops block in SDL_Delay; Asyncify lets them yield to the
  # browser. TTF_OpenFont waits for the browser to load the font.
  -sASYNCIFY -sASYNCIFY_IMPORTS='["TTF_OpenFont"]'
  # PNGs decoded by stb_image, as files, pixel for pixel.
  -sSTB_IMAGE=1
  # The page learns when the game has ended (QUIT, or a failed start).
  -sEXIT_RUNTIME=1
  --preload-file img --preload-file snd
  --js-library web/library_korrin.js
  --shell-file web/shell.html -sMINIFY_HTML=0
)
em++ "${flags[@]}" "${sources[@]}" -o "$out/index.html"
cp img/icon.png "$out/icon.png" # the page's icon, the game's own
echo "Built $out/ from: ${sources[*]}"
