#!/usr/bin/env bash
# Fuzzes one of the game's readers of outside bytes with libFuzzer for
# SECONDS (default 20), by hand:
#   replay   the replay file's reader, from the corpus of recorded matches
#            and recordings cut off mid-match
#   packets  the online match's packet reader, from one packet of each type
#   signal   the rooms' message reader, from the recorded messages' texts
# CTest fuzzes each for a few seconds (fuzz.replay, fuzz.packets and fuzz.signal, defined
# in tests/CMakeLists.txt); this builds the same target in build/ (clang 14
# with its runtime, libclang-rt-14-dev) and runs CTest's command for longer.
# The inputs it finds stay in build/tests/fuzz-TARGET-corpus/; a crash, a
# leak, an allocation above 1 MB or a reader's check that fails ends it with
# a failure, the input in build/tests/.
#   tools/fuzz.sh replay|packets|signal [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
target="${1:?usage: tools/fuzz.sh replay|packets|signal [SECONDS]}"
seconds="${2:-20}"
case "$target" in
  replay|packets|signal) ;;
  *) echo "tools/fuzz.sh: no fuzz target $target (replay, packets or signal)" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build" -DBUILD_TESTING=ON >/dev/null
cmake --build "$root/build" --target "fuzz_$target"
mapfile -t command < <(ctest --test-dir "$root/build" --show-only=json-v1 -R "^fuzz\.$target\$" |
  /usr/bin/python3 -c 'import json, sys; print(*json.load(sys.stdin)["tests"][0]["command"], sep="\n")')
if [ "${#command[@]}" -eq 0 ]; then
  echo "tools/fuzz.sh: no fuzz.$target test in build/: clang with libFuzzer was not found" >&2
  exit 1
fi
cd "$root/build/tests"
# libFuzzer takes the last of a repeated flag.
exec "${command[@]}" -max_total_time="$seconds"
