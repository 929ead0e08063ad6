#!/usr/bin/env bash
# Fuzzes one of the game's readers of outside bytes with libFuzzer (clang 14
# with its runtime, libclang-rt-14-dev) for SECONDS (default 20):
#   replay   the replay file's reader, from the corpus of recorded matches
#            and recordings cut off mid-match
#   packets  the online match's packet reader, from one packet of each type
# Builds into build-fuzz-TARGET/ and keeps the inputs it found there; a
# crash, a leak, an allocation above 1 MB or an input read that does not
# write back to the same bytes ends it with a failure and the input there.
#   tools/fuzz.sh replay|packets [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
target="${1:?usage: tools/fuzz.sh replay|packets [SECONDS]}"
seconds="${2:-20}"
case "$target" in
  replay)
    sources=(tests/fuzz/fuzz_replay.cpp src/replay/replayfile.cpp)
    libraries=(-lz)
    seeds=(tests/replays/*.krp tests/fuzz/replay/*.krp)
    # Inputs up to 64 KB: a few matches' worth.
    max_len=65536 ;;
  packets)
    sources=(tests/fuzz/fuzz_packets.cpp src/net/packets.cpp)
    libraries=()
    seeds=(tests/fuzz/packets/*)
    # ENet hands over at most one datagram: 4 KB is well past every packet's size.
    max_len=4096 ;;
  *) echo "tools/fuzz.sh: no fuzz target $target (replay or packets)" >&2; exit 2 ;;
esac
out="$root/build-fuzz-$target"
mkdir -p "$out/corpus"
cd "$root"
clang++-14 -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Isrc/common -Isrc/rules -Isrc/replay -Isrc/net -DKORRIN_VERSION='"fuzz"' \
  "${sources[@]}" "${libraries[@]}" -o "$out/fuzz"
cp "${seeds[@]}" "$out/corpus/"
cd "$out"
# -malloc_limit_mb proves that no single allocation outgrows the input.
./fuzz -max_total_time="$seconds" -max_len="$max_len" -malloc_limit_mb=1 -rss_limit_mb=512 \
  -print_final_stats=1 corpus
