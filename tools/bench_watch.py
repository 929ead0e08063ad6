#!/usr/bin/env python3
"""What a watcher costs and sees: a host and a joining game over ENet on this
machine (no window, no sound, nobody steering: the ball decides the match)
and WATCHERS watchers from the start, or LATE seconds after the joining game
started; prints how many frames each watcher caught up on and how fast, how
far behind the host's settled frames it then ran (its median and worst),
what the host sent each watcher, both players' figures (to hold against a
match with --watchers 0), and the machine's load.

    tools/bench_watch.py [--game build/korrin-tavrel] [--watchers 1] [--late 0]
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PORT = 27977
# A match the ball plays alone ends well within this.
MATCH_LIMIT_S = 240


def start(game, workdir, name, *arguments):
    env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    err = open(os.path.join(workdir, name + ".err"), "w")
    return subprocess.Popen([game] + list(arguments), cwd=ROOT, env=env,
                            stdout=subprocess.PIPE, stderr=err, text=True), err.name


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--game", default=os.path.join(ROOT, "build", "korrin-tavrel"))
    parser.add_argument("--watchers", type=int, default=1)
    parser.add_argument("--late", type=float, default=0.0,
                        help="seconds after the joining game starts that the watchers come")
    options = parser.parse_args()
    load = os.getloadavg()[0]
    with tempfile.TemporaryDirectory() as workdir:
        host, host_err = start(options.game, workdir, "host", "--host", str(PORT))
        time.sleep(0.5)
        games = [start(options.game, workdir, "join", "--join", "127.0.0.1:%d" % PORT)]
        time.sleep(options.late)
        games += [start(options.game, workdir, "watch%d" % i, "--watch", "127.0.0.1:%d" % PORT)
                  for i in range(options.watchers)]
        finals = []
        for proc, _ in [(host, host_err)] + games:
            out, _ = proc.communicate(timeout=MATCH_LIMIT_S)
            finals += [line for line in out.splitlines() if line.startswith("Final score")]
        players = []
        for err in (host_err, games[0][1]):
            with open(err) as f:
                players += [line for line in f if line.startswith("korrin-tavrel: online:")]
        with open(host_err) as f:
            served = re.search(r"watchers: \d+ served, (\d+) packets/s and (\d+) B/s", f.read())
        behind = []
        for _, err in games[1:]:
            with open(err) as f:
                found = re.search(r"caught up on (\d+) frames in (\d+) ms, behind the host's "
                                  r"settled frames by (\d+) ms \(median\) and (\d+) ms \(worst\)",
                                  f.read())
            behind.append(tuple(int(n) for n in found.groups()) if found else None)
    if len(set(finals)) != 1 or len(finals) != 2 + options.watchers or len(players) != 2 \
            or (served is None and options.watchers > 0) or None in behind:
        sys.exit("the match did not end alike everywhere: %r" % finals)
    print("%s (load %.2f before the match)" % (finals[0], load))
    for side, line in zip(("host", "join"), players):
        print("%s: %s" % (side, line.strip()))
    for i, (frames, ms, median, worst) in enumerate(behind):
        print("watcher %d: caught up on %d frames in %d ms (%.0f frames/s), then behind the "
              "host's settled frames by %d ms (median), %d ms (worst)"
              % (i + 1, frames, ms, frames * 1000 / max(ms, 1), median, worst))
    if served:
        print("the host sent each watcher %s packets/s, %s B/s of packets (ENet's and UDP's "
              "headers not counted)" % served.groups())


if __name__ == "__main__":
    main()
