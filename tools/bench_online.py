#!/usr/bin/python3
"""Figures of the online match, printed as a Markdown table.

    /usr/bin/python3 tools/bench_online.py [BUILD_DIR]      (default: build)
    /usr/bin/python3 tools/bench_online.py --outages [BUILD_DIR]

With --outages: the longest total outage of the link that a match survives
with both cores busy. For each outage length, a host and a joining game start
a match at 0 ms; two busy loops start beside them, and 3 s in the relay loses
everything both ways for that long; the match survived if, 1.5 s after the
link is back, neither side has said the connection is lost.

For each network (50 ms and 125 ms each way, +-10 ms of jitter, 5 % of the
datagrams lost; and 0 ms with two busy loops beside the games, so that both
cores are busy) a host and a joining game play one whole match on this
machine, each under its own Xvfb (tests/e2e/e2e.py's Session), the joining
one through the tests' relay (tests/e2e/relay.py); both players change keys
every half second to a second, so that the other side's guesses go wrong.
Five seconds in, the joining game is stopped for 2 s (SIGSTOP); fifteen
seconds in, the relay loses everything both ways for 2.9 s (4 s, the
longest outage promised, on the busy machine).
Each game writes its figures on stderr as the match ends (online.cpp's
printStats): the rollbacks and their depth (frames run again), the CPU
time of the deepest, the waits for the other side longer than a frame, the
sounds of the settled match missing (never heard) and wrong (heard from a
guess that proved wrong), the longest silence survived, the time after a
silence of a second or more (the stall, the outage) until the two sides were
within 2 frames of each other, and the bytes of UDP payload each way (ENet's
headers and acknowledgements included). The local player's input delay is 0
frames by construction: the keys read for a frame are that frame's input.
Takes about three minutes.
"""

import itertools
import os
import re
import signal
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import relay  # noqa: E402

NETWORKS = ((50, 10, 0.05, False), (125, 10, 0.05, False), (0, 0, 0.0, True))
RHYTHMS = ((("Up", 0.7), ("Down", 0.9)), (("Down", 0.5), ("Up", 1.1)))
FIGURES = re.compile(r"korrin-tavrel: online: (\d+) frames, (\d+) rollbacks \(depth median "
                     r"(\d+), p99 (\d+), worst (\d+) in (\d+) us\), (\d+) stalls over a "
                     r"frame, (\d+) sounds \((\d+) missing, (\d+) wrong, (\d+) late\), "
                     r"longest silence (\d+) ms, in step (\d+) ms after a stall, "
                     r"(\d+) B/s sent, (\d+) B/s received, (\d+) bad packets")
STALL_AT_S, STALL_S, OUTAGE_AT_S, OUTAGE_S, BUSY_OUTAGE_S = 5, 2, 15, 2.9, 4.0
OUTAGES_S, OUTAGE_IN_S, AFTER_OUTAGE_S = (3.0, 3.5, 4.0, 4.25, 4.5, 4.75), 3, 1.5
CONNECTION_LOST = "Connection to the other player lost."
FRAME_MS = 22


def steer(session, rhythm, stop):
    for key, hold in itertools.cycle(rhythm):
        session.key_down(key)
        stop.wait(hold)
        session.key_up(key)
        if stop.is_set():
            return


def figures(session):
    match = FIGURES.search(session.stderr())
    if not match:
        raise SystemExit("no figures from the game:\n" + session.stderr()[-2000:])
    return [float(g) for g in match.groups()]


def busy_loops(count):
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]


def stop(loops):
    for loop in loops:
        loop.kill()
        loop.wait()


def one_match(game, delay_ms, jitter_ms, loss, busy):
    loops = busy_loops(2 if busy else 0)
    try:
        return play(game, delay_ms, jitter_ms, loss, BUSY_OUTAGE_S if busy else OUTAGE_S)
    finally:
        stop(loops)


def survives(game, outage_s):
    """Whether a match at 0 ms, both cores busy, goes on after an outage of outage_s."""
    with e2e.Session([game, "--host", "0"], ROOT) as host:
        host.start()
        port = host.waiting_port()
        silent_until = [0.0]
        with relay.Relay(port, rewrite=lambda data, way: None
                         if time.monotonic() < silent_until[0] else data) as link, \
                e2e.Session([game, "--join", "127.0.0.1:%d" % link.port], ROOT) as joiner:
            joiner.start()
            while not any(l.startswith("Joined") for l in joiner.lines):
                time.sleep(0.05)
            loops = busy_loops(2)
            try:
                time.sleep(OUTAGE_IN_S)
                silent_until[0] = time.monotonic() + outage_s
                time.sleep(outage_s + AFTER_OUTAGE_S)
            finally:
                stop(loops)
            survived = not any(CONNECTION_LOST in s.lines for s in (host, joiner))
            if survived:
                joiner.focus()
                joiner.press("Escape")
            for session in (host, joiner):
                session.finish(timeout=30)
            return survived


def play(game, delay_ms, jitter_ms, loss, outage_s):
    with e2e.Session([game, "--host", "0"], ROOT) as host:
        host.start()
        port = host.waiting_port()
        silent_until = [0.0]
        with relay.Relay(port, delay_ms, jitter_ms, loss,
                         lambda data, way: None if time.monotonic() < silent_until[0] else data) \
                as link, \
                e2e.Session([game, "--join", "127.0.0.1:%d" % link.port], ROOT) as joiner:
            joiner.start()
            stop = threading.Event()
            steering = []
            for session, rhythm, start in ((host, RHYTHMS[0], "A player joined"),
                                           (joiner, RHYTHMS[1], "Joined")):
                while not any(l.startswith(start) for l in session.lines):
                    time.sleep(0.05)
                session.focus()
                steering.append(threading.Thread(target=steer, args=(session, rhythm, stop)))
                steering[-1].start()
            time.sleep(STALL_AT_S)
            os.kill(joiner.proc.pid, signal.SIGSTOP)
            time.sleep(STALL_S)
            os.kill(joiner.proc.pid, signal.SIGCONT)
            time.sleep(OUTAGE_AT_S - STALL_AT_S - STALL_S)
            silent_until[0] = time.monotonic() + outage_s
            for session in (host, joiner):
                session.finish(timeout=120)
            stop.set()
            for thread in steering:
                thread.join()
            return figures(host), figures(joiner)


def main():
    outages = "--outages" in sys.argv[1:]
    args = [a for a in sys.argv[1:] if a != "--outages"]
    game = os.path.abspath(os.path.join(args[0] if args else "build", "korrin-tavrel"))
    if outages:
        print("| Total outage, both cores busy | Match goes on |")
        print("|---|---|")
        for outage_s in OUTAGES_S:
            print("| %.2f s | %s |" % (outage_s, "yes" if survives(game, outage_s) else "no"))
        return
    print("| Network each way | Side | Input delay | Rollbacks | Depth median / p99 / worst "
          "| Worst rollback CPU | Stalls > 1 frame per minute | Sounds per minute: missing / "
          "wrong (of all) | Longest silence survived | In step after the stall | Sent "
          "| Received |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for delay_ms, jitter_ms, loss, busy in NETWORKS:
        for side, f in zip(("host", "join"), one_match(game, delay_ms, jitter_ms, loss, busy)):
            (frames, rollbacks, median, p99, worst, worst_us, stalls, sounds, missing, wrong,
             _, silence, in_step, sent, received, _) = f
            minutes = frames * FRAME_MS / 60000
            print("| %d +- %d ms, %d %% lost%s | %s | 0 frames | %d in %d frames | %d / %d / %d "
                  "| %d us | %.1f | %.1f / %.1f (%.0f) | %d ms | %d ms | %.2f KB/s "
                  "| %.2f KB/s |"
                  % (delay_ms, jitter_ms, loss * 100, ", both cores busy" if busy else "", side,
                     rollbacks, frames, median, p99, worst,
                     worst_us, stalls / minutes, missing / minutes, wrong / minutes,
                     sounds / minutes, silence, in_step, sent / 1024, received / 1024))


if __name__ == "__main__":
    main()
