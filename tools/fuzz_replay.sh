#!/usr/bin/env bash
# Fuzzes the replay reader with libFuzzer (clang 14 with its runtime,
# libclang-rt-14-dev) for SECONDS (default 20), starting from the corpus of
# recorded matches. Builds into build-fuzz/ and keeps the inputs it found
# there; a crash, a leak, an allocation above 1 MB or a re-encoding that
# differs ends it with a failure and the input in build-fuzz/.
#   tools/fuzz_replay.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-20}"
out="$root/build-fuzz"
mkdir -p "$out/corpus"
clang++-14 -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" "$root/tests/fuzz/fuzz_replay.cpp" "$root/src/replayfile.cpp" -lz -o "$out/fuzz-replay"
cp "$root"/tests/replays/*.krp "$out/corpus/" 2>/dev/null || true
cd "$out"
# Inputs up to 64 KB: a few matches' worth; -malloc_limit_mb proves that no
# single allocation outgrows the input.
./fuzz-replay -max_total_time="$seconds" -max_len=65536 -malloc_limit_mb=1 -rss_limit_mb=512 \
  -print_final_stats=1 corpus
