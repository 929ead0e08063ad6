#!/usr/bin/python3
"""Replay figures: the size of a recorded three-minute match and the speed of
--verify as a multiple of real time. Not a test: timings depend on the machine.

    /usr/bin/python3 tools/bench_replay.py [BUILD_DIR]     (default: build)

- Size: the bytes of the corpus (tests/replays/*.krp) per second of play,
  times 180 s: the frames take two bytes each, so the size follows the frame
  count, which follows the time.
- Verify speed: one file that holds every match of the corpus REPEAT times
  (the records of each file after its header, one after another, as a run of
  several matches writes them); its recorded seconds divided by the wall
  time of `korrin-tavrel --verify` on it, start-up included. Median of RUNS.
  Goal: at least 1000 times real time.
"""

import glob
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = sorted(glob.glob(os.path.join(ROOT, "tests", "replays", "*.krp")))
REPEAT = 20
RUNS = 5
MATCH_SECONDS = 180
SPEED_GOAL = 1000
MAGIC_AND_VERSION_BYTES = 10  # then one byte of the game version's length


def verify(game, path):
    """Wall seconds and the recorded seconds of every match (from its lines)."""
    start = time.monotonic()
    run = subprocess.run([game, "--verify", path], capture_output=True, text=True, check=True)
    wall = time.monotonic() - start
    return wall, [float(s) for s in re.findall(r"after ([\d.]+) s", run.stdout)]


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    game = os.path.join(build, "korrin-tavrel")
    header, records = b"", b""
    for path in CORPUS:
        with open(path, "rb") as f:
            data = f.read()
        length = MAGIC_AND_VERSION_BYTES + 1 + data[MAGIC_AND_VERSION_BYTES]
        header, records = data[:length], records + data[length:]
    played = sum(sum(verify(game, path)[1]) for path in CORPUS)
    size = sum(os.path.getsize(path) for path in CORPUS)
    print("Corpus: %d files, %.1f s of play, %d bytes: %.0f bytes per three-minute match"
          % (len(CORPUS), played, size, size / played * MATCH_SECONDS))

    with tempfile.NamedTemporaryFile(suffix=".krp") as many:
        many.write(header + records * REPEAT)
        many.flush()
        runs = [verify(game, many.name) for _ in range(RUNS)]
    wall = statistics.median(w for w, _ in runs)
    recorded = sum(runs[0][1])
    speed = recorded / wall
    print("--verify: %.0f s of play (%d matches) in %.3f s (median of %d): %.0f times real time "
          "(goal %d): %s" % (recorded, len(runs[0][1]), wall, RUNS, speed, SPEED_GOAL,
                              "ok" if speed >= SPEED_GOAL else "MISSED"))
    return 0 if speed >= SPEED_GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
