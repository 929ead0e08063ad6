#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: on the normal build with the
# system's SDL 1.2, again on it with sdl12-compat (SDL 1.2 over SDL2, which
# most distributions ship as their SDL 1.2), and on a build with
# AddressSanitizer and UndefinedBehaviorSanitizer (the system's SDL 1.2);
# and the web build (tools/web.sh) in headless Chromium and Firefox ESR.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
korrin_install_packages

compat_dir="$(korrin_sdl12_compat_dir)"
if [ ! -e "$compat_dir/libSDL-1.2.so.0" ]; then
  echo "sdl12-compat is not in $compat_dir" >&2
  exit 1
fi

# run_pass NAME COMMAND...: runs a pass and says how long it took.
run_pass() {
  local name="$1" start=$SECONDS
  shift
  echo "=== $name"
  "$@"
  echo "=== $name: passed in $((SECONDS - start)) s"
}

# Guards on the code itself, before anything is built: the repository's
# clang-format style, cppcheck without a finding, and (in both builds) no
# compiler warning.
cxx_files=()
while IFS= read -r -d '' file; do cxx_files+=("$file"); done < <(
  git -C "$KORRIN_ROOT" ls-files -z '*.cpp' '*.h')
run_pass "clang-format" bash -c 'cd "$0" && clang-format --dry-run --Werror "$@"' \
  "$KORRIN_ROOT" "${cxx_files[@]}"
src_folders=("$KORRIN_ROOT"/src/*/)
run_pass "cppcheck" cppcheck --enable=warning,style,performance,portability --error-exitcode=1 \
  --inline-suppr --std=c++17 --quiet -DKORRIN_VERSION='"check"' \
  "${src_folders[@]/#/-I}" "$KORRIN_ROOT/src" "$KORRIN_ROOT/tools"

# The page's JavaScript: prettier's format and ESLint's findings (both
# pinned in web/package.json).
[ -d "$KORRIN_ROOT/web/node_modules/eslint" ] ||
  npm ci --prefix "$KORRIN_ROOT/web" --no-audit --no-fund --loglevel=error
run_pass "prettier and ESLint" npm --prefix "$KORRIN_ROOT/web" run --silent check

# Both builds keep line tables only (-g1): enough for a stack's or a failed
# check's file and line, at half the compile time of full debugging
# information; the sanitized one at -O1, as AddressSanitizer advises.
korrin_build build -DBUILD_TESTING=ON -DKORRIN_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
# The end-to-end scenarios spend most of their time waiting on the game's
# real-time pace (a core runs two of them with room to spare): twice as many
# tests as cores. The heavy ones say so (CTest's PROCESSORS).
jobs=$((2 * $(nproc)))
# The normal pass fuzzes the readers of outside bytes briefly (fuzz.replay,
# fuzz.packets and fuzz.signal): they must be there.
if [ "$(ctest --test-dir "$KORRIN_ROOT/build" -N -L fuzz | grep -c '^  Test ')" -ne 3 ]; then
  echo "the fuzz tests are missing from build/: clang with libFuzzer was not found" >&2
  exit 1
fi
run_pass "normal build, system SDL 1.2" \
  ctest --test-dir "$KORRIN_ROOT/build" --output-on-failure -j"$jobs"
# The web build in headless Chromium (against the native game's pictures)
# and Firefox ESR.
"$KORRIN_ROOT/tools/web.sh" --with-test-tools
run_pass "web build, headless Chromium and Firefox ESR" \
  node "$KORRIN_ROOT/tests/web/test_web.mjs" "$KORRIN_ROOT/build/korrin-tavrel"
# Phones and tablets: touch, the picture's size, offline, online from a phone.
run_pass "web build on phones and tablets, headless Chromium" \
  node "$KORRIN_ROOT/tests/web/test_phone.mjs"
# The browser link's pairing on connections of the test's own making, then
# online play between two headless Chromiums, and between one and the
# installed game (build/korrin-tavrel): a local mosquitto and coturn.
run_pass "web online pairing, without a browser" node "$KORRIN_ROOT/tests/web/test_link.mjs"
run_pass "web signalling messages, recorded" node "$KORRIN_ROOT/tests/web/test_signal.mjs"
run_pass "web signalling in a room, without a browser" node "$KORRIN_ROOT/tests/web/test_signalling.mjs"
run_pass "web online play, two headless Chromiums" \
  node "$KORRIN_ROOT/tests/web/test_online.mjs"
# The tests labelled "package" and "fuzz" do not depend on the runtime: they
# run once, above. So do the whole online matches (about 40 s each) and the
# rooms' match behind a lossy path: they try the session and the link over a
# hostile network, which no runtime or sanitizer changes (the shorter online
# scenarios and the rooms' straight match run in every pass).
once_only="^e2e\.Online\.test_match_at_|^e2e\.Rooms\.test_whole_match_through_turn_behind_a_lossy_path"
# The soak checks the rules over a million frames, and the rooms' tests the
# rooms' link and signalling: the runtime only draws them (the soak a minute
# on sdl12-compat); the sanitizers do check them. Valgrind's leak check looks
# at the game's own blocks, which the runtime does not change (the
# sanitizers' leak check sees them again), and takes 36 s of a core on SDL2.
run_pass "normal build, sdl12-compat" env LD_LIBRARY_PATH="$compat_dir" \
  ctest --test-dir "$KORRIN_ROOT/build" --output-on-failure -j"$jobs" -LE "package|fuzz" \
  -E "$once_only|^SoakTest\.|^e2e\.Rooms\.|^e2e\.Leaks\."
# (Compiled after that pass, not beside it: both keep the two cores busy,
# and side by side they took 40 s longer than one after the other.)
korrin_build build-sanitize -DBUILD_TESTING=ON -DKORRIN_SANITIZE=ON -DKORRIN_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
export LSAN_OPTIONS="suppressions=$KORRIN_ROOT/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_pass "sanitized build, system SDL 1.2" \
  ctest --test-dir "$KORRIN_ROOT/build-sanitize" --output-on-failure -j"$jobs" -E "$once_only"
