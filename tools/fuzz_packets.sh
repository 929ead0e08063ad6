#!/usr/bin/env bash
# Fuzzes the network's packet reader with libFuzzer (clang 14 with its
# runtime, libclang-rt-14-dev) for SECONDS (default 20), starting from one
# packet of each type. Builds into build-fuzz-net/ and keeps the inputs it
# found there; a crash, a leak, an allocation above 1 MB or a packet read
# that does not write back to the same bytes ends it with a failure and the
# input in build-fuzz-net/.
#   tools/fuzz_packets.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-20}"
out="$root/build-fuzz-net"
mkdir -p "$out/corpus"
clang++-14 -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" "$root/tests/fuzz/fuzz_packets.cpp" "$root/src/network.cpp" \
  $(pkg-config --cflags --libs libenet) -o "$out/fuzz-packets"
cp "$root"/tests/fuzz/packets/* "$out/corpus/"
cd "$out"
# ENet hands over at most one datagram: 4 KB is well past every packet's size.
./fuzz-packets -max_total_time="$seconds" -max_len=4096 -malloc_limit_mb=1 -rss_limit_mb=512 \
  -print_final_stats=1 corpus
