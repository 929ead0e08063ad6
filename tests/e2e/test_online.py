#!/usr/bin/env python3
"""Online matches end to end: a host and a joining game, each under its own X
server, through the test relay (delay, jitter, loss, rewritten datagrams).

Run through CTest (tests/CMakeLists.txt); see game_test.py for the command line.
"""

import os
import re
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import game_test  # noqa: E402

game_test.configure()
from game_test import *  # noqa: E402,F401,F403


# Both games on this machine, each under its own X server, the joining one
# through the test's relay to the host.
MATCH_STARTS = {"host": "A player joined: the match starts.", "join": "Joined: the match starts."}
CONNECTION_LOST = "Connection to the other player lost."
OTHER_LEFT = "The other player left the match."
RECORDING = "online.krp"
WAITING_BANNER = (1, 157, 300, 27)
JOINING_BANNER = (1, 185, 300, 27)
BANNER_AT = (10, 106)
# The busy loops start this long before the first outage they are to slow.
HOG_LEAD_S = 0.5
# Each side steers with its own rhythm, so that the other's guesses go wrong.
STEERING = {"host": (("Up", 0.7), ("Down", 0.9)), "join": (("Down", 0.5), ("Up", 1.1))}


def banner_screen(banner):
    screen = copy_of(asset("img/game.png"))
    e2e.draw(screen, asset("img/game-sprites.png"), banner, *BANNER_AT)
    return screen


def ends_with_start(data):
    """The datagram ends with ENet's unreliable command (7, channel, two
    sequences, length 15 big-endian) and a Start: type 2, seed, players,
    ball, ms since the host's start, the echoed clock."""
    return len(data) >= 23 and data[-23] == 7 and data[-17:-15] == b"\x00\x0f" \
        and data[-15] == 2


def inputs_packet(data):
    """(offset, sender's frames, verdict) of the Inputs packet the datagram
    ends with (ENet's command 7; type 3, six numbers, a hash, the verdict, a
    frame, n, n inputs), or None."""
    for n in range(0, 65):
        at = len(data) - n - 39
        if at >= 8 and data[-n - 1] == n and data[at] == 3 and data[at - 8] == 7:
            return at, struct.unpack("<I", data[at + 1:at + 5])[0], data[-n - 6]
    return None


@contextlib.contextmanager
def cpu_hog():
    """Two busy loops beside the games, at their priority: both cores busy."""
    loops = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(2)]
    yield
    for loop in loops:
        loop.kill()
        loop.wait()


def online_stats(session):
    """The figures the game writes on stderr after an online match."""
    for line in session.stderr().splitlines():
        if line.startswith("korrin-tavrel: online: "):
            words = line.replace(",", "").replace("(", "").split()
            silence = int(re.search(r"longest silence (\d+) ms", line).group(1))
            return {"frames": int(words[2]), "rollbacks": int(words[4]),
                    "bad packets": int(words[-3]), "longest silence": silence}
    raise AssertionError("no figures on stderr:\n" + session.stderr()[-2000:])


class Steering(threading.Thread):
    """Holds one side's keys in turn, from now until stopped."""

    def __init__(self, session, rhythm):
        super().__init__(daemon=True)
        self.session, self.rhythm, self.stop = session, rhythm, threading.Event()
        self.start()

    def run(self):
        for key, hold in itertools.cycle(self.rhythm):
            self.session.key_down(key)
            self.stop.wait(hold)
            self.session.key_up(key)
            if self.stop.is_set():
                return


class Online(GameTest):
    @contextlib.contextmanager
    def pair(self, delay_ms=0, jitter_ms=0, loss=0.0, rewrite=None, record=(), strays=0,
             failed_start_s=0):
        """A host on a free port and a game joining it through a relay;
        `record` adds --record RECORDING to both; `strays` bare ENet CONNECT
        datagrams reach the host first, then a game whose every Hello and
        Start is lost for `failed_start_s`, when it is closed."""
        record = list(record)
        with self.game(command=[os.path.abspath(GAME), "--host", "0"] + record,
                       assets=ASSETS) as host:
            host.start()
            port = host.waiting_port()
            self.send_strays(port, strays)
            if failed_start_s:
                self.fail_to_start(port, failed_start_s)
            with relay.Relay(port, delay_ms, jitter_ms, loss, rewrite) as link, \
                    self.game(command=[os.path.abspath(GAME), "--join",
                                       "127.0.0.1:%d" % link.port] + record,
                              assets=ASSETS) as joiner:
                joiner.start()
                try:
                    yield host, joiner, link
                except Exception as failure:
                    for name, session in (("host", host), ("joiner", joiner)):
                        failure.add_note("%s printed %r, status %r; stderr: %s" % (
                            name, session.lines, session.proc.poll(), session.stderr()[-1500:]))
                    raise

    def opening(self, host, joiner, link):
        return ({"host": [VERSION_LINE, "Waiting for a player on port %d." % link.host[1]],
                 "join": [VERSION_LINE, "Joining 127.0.0.1:%d." % link.port]})

    def play_whole_match(self, delay_ms, jitter_ms, loss, noise=False, outages=(), end_outage=0,
                         busy=False):
        """`noise`: two strays first, then noise and a third game; `outages`:
        (seconds after the start, length) of total outages; `end_outage` s
        after the first datagram with a side's verdict on the end; `busy`:
        both cores busy during the `outages` (only: tests beside are slowed)."""
        silent_until, end_outage = [0.0], [end_outage]

        def rewrite(data, way):
            packet = inputs_packet(data)
            if end_outage[0] and packet is not None and packet[2] != 0:
                silent_until[0], end_outage[0] = time.monotonic() + end_outage[0], 0
                return data
            return None if time.monotonic() < silent_until[0] else data

        with self.pair(delay_ms, jitter_ms, loss, record=("--record", RECORDING),
                       strays=2 if noise else 0, rewrite=rewrite) as (host, joiner, link), \
                contextlib.ExitStack() as busy_loops:
            sides = {"host": host, "join": joiner}
            joiner.wait_for_line(self.opening(host, joiner, link)["join"][1], timeout=15)
            joining = time.monotonic()
            for name, session in sides.items():
                session.wait_for_line(MATCH_STARTS[name], timeout=15)
                session.focus()
            started = time.monotonic()
            if noise:
                self.assertLess(time.monotonic() - joining, 2.0, "joined late past the strays")
            steering = [Steering(session, STEERING[name]) for name, session in sides.items()]
            if noise:
                self.send_noise(link.host[1])
                self.knock_in_vain(link.host[1])
            if busy:
                time.sleep(max(0.0, started + outages[0][0] - HOG_LEAD_S - time.monotonic()))
                busy_loops.enter_context(cpu_hog())
            for start, length in outages:
                time.sleep(max(0.0, started + start - time.monotonic()))
                silent_until[0] = time.monotonic() + length
            if busy:
                time.sleep(max(0.0, silent_until[0] - time.monotonic()))
                busy_loops.close()
            finals, scores = self.final_scores(sides, steering)
            # Both show the winner's game-over picture, held for 5 s.
            winner = scores.index(5)
            for session in sides.values():
                session.wait_for_screen(lambda shot: not differing(shot, game_over_screen(winner)),
                                        "the game-over screen of player %d" % (winner + 1))
            opening = self.opening(host, joiner, link)
            for name, session in sides.items():
                self.assertRun(session, opening[name] + [MATCH_STARTS[name]] + finals[name]
                               + CLOSING, 0, timeout=15)
            self.assertSameRecordedMatch(host, joiner, scores)
            return online_stats(host), online_stats(joiner)

    def final_scores(self, sides, steering):
        """Each side's final lines and the score, once both sides printed it
        (the same, one side's 5) while they steered; the steering stops then."""
        finals = {}
        try:
            for name, session in sides.items():
                deadline = time.monotonic() + 90
                while not any(line.startswith("Final score: ") for line in session.lines):
                    if session.proc.poll() is not None or time.monotonic() > deadline:
                        raise AssertionError("%s: no final score; printed %r; stderr %s"
                                             % (name, session.lines, session.stderr()[-2000:]))
                    time.sleep(0.2)
                finals[name] = [l for l in session.lines if l.startswith("Final score: ")]
        finally:
            for thread in steering:
                thread.stop.set()
            for thread in steering:
                thread.join()
        self.assertEqual(finals["host"], finals["join"])
        scores = [int(n) for n in finals["host"][0][len("Final score: "):-1].split(" - ")]
        self.assertEqual(sorted(scores)[1], 5, finals)
        return finals, scores

    def assertSameRecordedMatch(self, host, joiner, scores):
        """Both recordings hold the same bytes, and --verify plays them to
        their recorded end with the printed score."""
        recordings = []
        for session in (host, joiner):
            path = os.path.join(session.workdir, RECORDING)
            with open(path, "rb") as f:
                recordings.append(f.read())
            verified = subprocess.run([GAME, "--verify", path], stdout=subprocess.PIPE,
                                      timeout=30, env=dict(session.env, SDL_VIDEODRIVER="dummy"))
            lines = verified.stdout.decode().splitlines()
            self.assertEqual(verified.returncode, 0, lines)
            self.assertTrue(lines[-1].startswith("Match 1: %d-%d after " % tuple(scores))
                            and lines[-1].endswith(", end state as recorded"), lines)
        self.assertEqual(recordings[0], recordings[1], "the two recordings differ")

    def send_noise(self, port, datagrams=400, seed=18):
        """Random datagrams of random lengths to the host's port, from a
        socket of their own, spread over two seconds."""
        rng = random.Random(seed)
        noise = relay.socket.socket(relay.socket.AF_INET, relay.socket.SOCK_DGRAM)
        with contextlib.closing(noise):
            for _ in range(datagrams):
                noise.sendto(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 120))),
                             (relay.LOCALHOST, port))
                time.sleep(2.0 / datagrams)

    def send_strays(self, port, count):
        """Bare ENet CONNECT datagrams: no peer, a sent time; CONNECT (2,
        acknowledged), peer, sessions, MTU, window, channels, bandwidths..."""
        for n in range(count):
            datagram = struct.pack(">HHBBH", 0x8fff, 0, 0x82, 0xff, 1) + struct.pack(
                ">HBBIIIIIIIIII", n, 0xff, 0xff, 1400, 32768, 2, 0, 0, 5000, 2, 2,
                0x5eed0000 + n, 0)
            stray = relay.socket.socket(relay.socket.AF_INET, relay.socket.SOCK_DGRAM)
            with contextlib.closing(stray):
                stray.sendto(datagram, (relay.LOCALHOST, port))

    def fail_to_start(self, port, seconds):
        with relay.Relay(port, rewrite=lambda data, way: None if b"KTAV" in data
                         or ends_with_start(data) else data) as link, \
                self.game(command=[os.path.abspath(GAME), "--join", "127.0.0.1:%d" % link.port],
                          assets=ASSETS) as first:
            first.start()
            time.sleep(seconds)
            first.proc.kill()
            first.finish()

    def knock_in_vain(self, port):
        """A third game joining the host during the match is turned away at once."""
        with self.game(command=[os.path.abspath(GAME), "--join", "127.0.0.1:%d" % port],
                       assets=ASSETS) as third:
            third.start()
            third.wait_for_line("Joining 127.0.0.1:%d." % port, timeout=15)
            knocked = time.monotonic()
            third.wait_for_line("The host already has a player.", timeout=10)
            self.assertLess(time.monotonic() - knocked, 2.0, "turned away late")
            self.assertRun(third, [VERSION_LINE, "Joining 127.0.0.1:%d." % port,
                                   "The host already has a player.", CLOSING[0]], 1)

    def test_match_at_0_ms_with_random_datagrams_a_third_player_and_outages_beside_a_cpu_hog(self):
        """Total outages of 2.9 s 8 s in and of 3.0 s 14 s in, both cores
        busy, and of 2.5 s after the first verdict: the same end on both sides."""
        host, joiner = self.play_whole_match(0, 0, 0.0, noise=True, busy=True,
                                             outages=((8, 2.9), (14, 3.0)), end_outage=2.5)
        self.assertEqual((host["bad packets"], joiner["bad packets"]), (0, 0))
        self.assertGreaterEqual(min(host["longest silence"], joiner["longest silence"]), 3000)

    def test_match_at_50_ms_with_jitter_and_loss(self):
        host, joiner = self.play_whole_match(50, 10, 0.05, outages=((3, 2.9),))
        self.assertGreater(host["rollbacks"] + joiner["rollbacks"], 0)

    def test_match_at_125_ms_with_jitter_and_loss(self):
        host, joiner = self.play_whole_match(125, 10, 0.05)
        self.assertGreater(host["rollbacks"] + joiner["rollbacks"], 0)

    def test_failed_start_then_a_player_at_once_then_killed_peer_noticed_within_6_s(self):
        with self.pair(50, 10, 0.05, failed_start_s=8) as (host, joiner, link):
            joiner.wait_for_line(self.opening(host, joiner, link)["join"][1], timeout=15)
            joining = time.monotonic()
            for name, session in (("host", host), ("join", joiner)):
                session.wait_for_line(MATCH_STARTS[name], timeout=15)
            self.assertLess(time.monotonic() - joining, 2.0, "joined late after a failed start")
            time.sleep(2)
            joiner.proc.kill()
            killed_at = time.monotonic()
            host.wait_for_line(CONNECTION_LOST, timeout=8)
            self.assertLess(time.monotonic() - killed_at, 6.0)
            self.assertRun(host, self.opening(host, joiner, link)["host"]
                           + [MATCH_STARTS["host"], CONNECTION_LOST, CLOSING[0]], 1)
            joiner.finish()

    def test_escape_on_one_side_ends_the_match_for_both(self):
        """At 250 ms each way, the first try of each Hello and of the Start lost."""
        tries = {}

        def lose_first_tries(data, way):
            # ENet may carry a Hello and the Start in one datagram: a
            # datagram goes through once each packet it carries has been
            # lost once.
            keys = [(way, kind) for kind, carried in
                    (("Hello", b"KTAV" in data), ("Start", ends_with_start(data))) if carried]
            first = any(key not in tries for key in keys)
            for key in keys:
                tries[key] = tries.get(key, 0) + 1
            return None if first else data

        with self.pair(250, 10, 0.05, rewrite=lose_first_tries) as (host, joiner, link):
            for name, session in (("host", host), ("join", joiner)):
                session.wait_for_line(MATCH_STARTS[name], timeout=15)
            self.assertTrue(len(tries) == 3 and min(tries.values()) >= 2, tries)
            joiner.focus()
            time.sleep(1)
            joiner.press("Escape")
            opening = self.opening(host, joiner, link)
            for session in (host, joiner):
                session.wait_for_line(CLOSING[1], timeout=15)
            score = [l for l in joiner.lines if l.startswith("Final score: ")]
            self.assertRun(joiner, opening["join"] + [MATCH_STARTS["join"]] + score + CLOSING, 0)
            self.assertRun(host, opening["host"] + [MATCH_STARTS["host"], OTHER_LEFT] + score
                           + CLOSING, 0)

    def test_version_mismatch_is_said_on_both_sides(self):
        version = subprocess.run([GAME, "--version"], stdout=subprocess.PIPE, check=True,
                                 timeout=10).stdout.decode().split()[-1].encode()
        other = b"0" * len(version)
        hello = b"KTAV\x04\x00" + bytes([len(version)])
        with self.pair(rewrite=lambda data, way: data.replace(hello + version, hello + other)) \
                as (host, joiner, link):
            line = ("Version mismatch: this game is %s (protocol 4), the other is %s (protocol 4)."
                    % (version.decode(), other.decode()))
            opening = self.opening(host, joiner, link)
            self.assertRun(host, opening["host"] + [line, CLOSING[0]], 1)
            self.assertRun(joiner, opening["join"] + [line, CLOSING[0]], 1)

    def test_lost_sync_is_said_on_both_sides(self):
        """The relay changes the seed in the host's Start (the first hashes, of
        frame 44, differ) or one of the host's inputs (the inputs' checks differ)."""
        def other_seed(data, way):
            if way == "to joiner" and ends_with_start(data):
                return data[:-14] + bytes([data[-14] ^ 1]) + data[-13:]
            return data

        def other_input(data, way):
            # The last input sent after frames 100 to 104 gets Up 1 flipped.
            packet = inputs_packet(data)
            if way == "to joiner" and packet is not None and 100 < packet[1] <= 104 \
                    and len(data) - packet[0] > 39:
                return data[:-1] + bytes([data[-1] ^ 1])
            return data

        for rewrite, lost in ((other_seed, r"Lost sync with the other player at frame 44\.$"),
                              (other_input, r"Lost sync with the other player at frame \d+\.$")):
            with self.subTest(rewrite.__name__), self.pair(rewrite=rewrite) \
                    as (host, joiner, link):
                opening = self.opening(host, joiner, link)
                for name, session in (("host", host), ("join", joiner)):
                    self.assertRun(session, opening[name] + [MATCH_STARTS[name], mock.ANY,
                                                            CLOSING[0]], 1, timeout=30)
                    self.assertRegex(session.lines[-2], lost)

    def test_waiting_and_joining_show_their_banners_and_escape_gives_up(self):
        with self.game(command=[os.path.abspath(GAME), "--host", "0"], assets=ASSETS) as host:
            host.start()
            port = host.waiting_port()
            host.wait_for_screen(lambda shot: not differing(shot, banner_screen(WAITING_BANNER)),
                                 "the waiting banner")
            host.focus()
            host.press("Escape")
            self.assertRun(host, [VERSION_LINE, "Waiting for a player on port %d." % port,
                                  "Gave up waiting for a player."] + CLOSING, 0)
            # Nobody listens there now: the joining side waits with its banner.
            with self.game(command=[os.path.abspath(GAME), "--join", "127.0.0.1:%d" % port],
                           assets=ASSETS) as joiner:
                joiner.start()
                joiner.wait_for_screen(
                    lambda shot: not differing(shot, banner_screen(JOINING_BANNER)),
                    "the joining banner")
                joiner.focus()
                joiner.press("Escape")
                self.assertRun(joiner, [VERSION_LINE, "Joining 127.0.0.1:%d." % port,
                                        "Gave up joining."] + CLOSING, 0)


if __name__ == "__main__":
    run()
