#!/usr/bin/env python3
"""Online matches in a room between two installed games, each under its own
X server: a local mosquitto (a WebSocket listener and the plain one it needs)
carries the signalling, a local coturn every datagram (relay-only ICE, as two
strict home routers force), sometimes through a lossy relay in front of it.

Run through CTest (tests/CMakeLists.txt); see game_test.py for the command line.
"""

import contextlib
import functools
import hashlib
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import game_test  # noqa: E402

game_test.configure()
from game_test import *  # noqa: E402,F401,F403
import relay  # noqa: E402
import test_online as online  # noqa: E402

TURN_USER, TURN_PASSWORD = "korrin", "korrinpass"
# Daemons are up well within this; each is asked whether it listens.
DAEMON_START_S = 5.0
WAITING_IN_ROOM = "Waiting for a player in room "
# The lossy path: each datagram 50 +- 10 ms late, 5 % of them lost.
PROXY_DELAY_MS, PROXY_JITTER_MS, PROXY_LOSS = 50, 10, 0.05
# The join limit: a joining game without a match by then says No answer.
JOIN_LIMIT_S = 10
# Without a broker by then, a game gives up.
BROKER_WAIT_S = 10
# The third watcher comes this long after the second.
MID_MATCH_S = 5
# A waiting game ends well before any of the link's waits (10 s) after SIGTERM.
CLOSED_WITHIN_S = 5.0


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def until(found, timeout, failure):
    """found()'s first answer that is not empty, polled for `timeout` seconds;
    else an AssertionError that says failure()."""
    deadline = time.monotonic() + timeout
    while not (answer := found()):
        if time.monotonic() > deadline:
            raise AssertionError(failure())
        time.sleep(0.05)
    return answer


def wait_listening(port, what):
    def listens():
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0
    until(listens, DAEMON_START_S, lambda: "%s does not listen on %d" % (what, port))


def host_opening(room):
    """What a game hosting `room` says before a player joins."""
    return [VERSION_LINE, WAITING_IN_ROOM + room + ".",
            "The other player joins with: korrin-tavrel --join " + room]


def mqtt_packet(kind, body):
    """An MQTT 3.1.1 packet: its type byte, the body's length in 7-bit groups, the body."""
    length, size = b"", len(body)
    while True:
        size, digit = size >> 7, size & 0x7f
        length += bytes([digit | (0x80 if size else 0)])
        if not size:
            return bytes([kind]) + length + body


def mqtt_publish(port, topic, payloads):
    """Publishes each payload to the topic through the broker's plain listener (QoS 0)."""
    def text(t):
        return struct.pack(">H", len(t)) + t
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(mqtt_packet(0x10, text(b"MQTT") + bytes([4, 2]) + struct.pack(">H", 30)
                              + text(b"korrin-test")))
        if s.recv(4)[:1] != b"\x20":
            raise AssertionError("mosquitto did not take the connection")
        for payload in payloads:
            s.sendall(mqtt_packet(0x30, text(topic.encode()) + payload))
        s.sendall(mqtt_packet(0xe0, b""))


class Rooms(GameTest):
    def setUp(self):
        super().setUp()
        self.temp = tempfile.TemporaryDirectory()
        self.addCleanup(self.temp.cleanup)
        plain, websocket = free_port(), free_port()
        self.daemon("mosquitto", [
            "listener %d 127.0.0.1" % plain, "allow_anonymous true",
            "listener %d 127.0.0.1" % websocket, "protocol websockets", "allow_anonymous true"])
        wait_listening(websocket, "mosquitto")
        self.signal = "ws://127.0.0.1:%d" % websocket
        self.plain = plain
        self.turn_port = free_port(socket.SOCK_DGRAM)
        self.daemon("turnserver", [
            "listening-ip=127.0.0.1", "listening-port=%d" % self.turn_port, "relay-ip=127.0.0.1",
            "realm=korrin.test", "lt-cred-mech", "user=%s:%s" % (TURN_USER, TURN_PASSWORD),
            "fingerprint", "no-tls", "no-dtls", "no-tcp-relay", "no-cli", "allow-loopback-peers",
            "log-file=%s" % os.path.join(self.temp.name, "turn.log"), "simple-log",
            "pidfile=%s" % os.path.join(self.temp.name, "turn.pid")])
        wait_listening(self.turn_port, "coturn")

    def daemon(self, command, lines):
        config = os.path.join(self.temp.name, command + ".conf")
        with open(config, "w") as f:
            f.write("\n".join(lines) + "\n")
        daemon = subprocess.Popen([command, "-c", config], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(daemon.wait)
        self.addCleanup(daemon.kill)  # (cleanups run last first)

    def room_options(self, turn_port=None, password=TURN_PASSWORD, signal=None):
        ice = {"iceServers": [{"urls": "turn:127.0.0.1:%d" % (turn_port or self.turn_port),
                               "username": TURN_USER, "credential": password}],
               "iceTransportPolicy": "relay"}
        return ["--signal", signal or self.signal, "--ice", json.dumps(ice)]

    def room_game(self, games, *arguments, turn_port=None, options=None):
        """A game of `games` (an ExitStack) started with `arguments` and the
        room's servers (or `options`)."""
        session = games.enter_context(self.game(command=[os.path.abspath(GAME)] + list(arguments)
                                                + (options or self.room_options(turn_port)),
                                                assets=ASSETS))
        session.start()
        return session

    def host_room(self, session):
        """The room a hosting game says it waits in."""
        return until(lambda: next((line[len(WAITING_IN_ROOM):-1] for line in session.lines
                                   if line.startswith(WAITING_IN_ROOM)), None), 15,
                     lambda: "no room: %r; stderr %s" % (session.lines, session.stderr()[-1500:]))

    def play_whole_match(self, host, joiner, room, watch=None):
        """The match to its end; watch(), once it started, starts the
        watchers and returns their sessions with the lines they open with."""
        sides = {"host": host, "join": joiner}
        for name, session in sides.items():
            session.wait_for_line(online.MATCH_STARTS[name], timeout=15)
            session.focus()
        steering = [online.Steering(session, online.STEERING[name]) for name, session in sides.items()]
        for thread in steering:
            thread.start()
        watchers = watch() if watch else {}
        finals, scores = online.Online.final_scores(self, sides, steering)
        opening = {"host": host_opening(room), "join": [VERSION_LINE, "Joining room %s." % room]}
        for name, session in sides.items():
            self.assertRun(session, opening[name] + [online.MATCH_STARTS[name]] + finals[name]
                           + CLOSING, 0, timeout=20)
        for name, (session, lines) in watchers.items():
            with self.subTest(name):
                self.assertRun(session, lines + finals["host"] + CLOSING, 0, timeout=20)
        self.assertNotIn("dropped a watcher", host.stderr())
        online.Online.assertSameRecordedMatch(self, host, joiner, scores)

    def match_in_room(self, turn_port=None, watchers=False):
        """A whole match; with watchers, three: one there before the match,
        one that joins once it runs (and watches), one that comes mid-match."""
        record = ["--record", online.RECORDING]
        with contextlib.ExitStack() as games:
            game = functools.partial(self.room_game, games, turn_port=turn_port)
            host = game("--host-room", *record)
            room = self.host_room(host)
            watching = "Watching room %s." % room
            early = game("--watch", room) if watchers else None
            joiner = game("--join", room.upper(), *record)

            def watch():
                third = game("--join", room)
                third.wait_for_line(watching, timeout=20)
                time.sleep(MID_MATCH_S)
                return {"there before": (early, [VERSION_LINE, watching]),
                        "joined": (third, [VERSION_LINE, "Joining room %s." % room, watching]),
                        "mid-match": (game("--watch", "index.html?join=" + room),
                                      [VERSION_LINE, watching])}
            try:
                self.play_whole_match(host, joiner, room, watch if watchers else None)
            except Exception as failure:
                for name, session in (("host", host), ("joiner", joiner)):
                    failure.add_note("%s printed %r, status %r; stderr: %s" % (
                        name, session.lines, session.proc.poll(), session.stderr()[-1500:]))
                raise

    def test_whole_match_through_turn(self):
        """With three watchers, who print the players' final score."""
        self.match_in_room(watchers=True)

    def test_whole_match_through_turn_behind_a_lossy_path(self):
        with relay.Relay(self.turn_port, PROXY_DELAY_MS, PROXY_JITTER_MS, PROXY_LOSS,
                         seed=35) as proxy:
            self.match_in_room(proxy.port)

    def test_bad_servers_and_messages_each_said_without_a_hang(self):
        """A broker that never answers; messages of the room that are not
        ours to read; TURN refusing the credentials; no TURN server at all.
        Each gets its own line, the session's failure as ever, and SIGTERM
        ends a waiting game at once."""
        silent = socket.create_server(("127.0.0.1", 0))  # connects, never answers
        self.addCleanup(silent.close)
        with contextlib.ExitStack() as games:
            host = self.room_game(games, "--host-room", options=self.room_options(
                signal="ws://127.0.0.1:%d" % silent.getsockname()[1]))
            self.assertRun(host, [VERSION_LINE, "Cannot host: no signalling server answered "
                                  "within 10 s.", CLOSING[0]], 1, timeout=BROKER_WAIT_S + 5)

        with contextlib.ExitStack() as games:
            host = self.room_game(games, "--host-room")
            room = self.host_room(host)
            topic = "korrin-tavrel/1/" + hashlib.sha256(
                ("korrin-tavrel room " + room).encode()).hexdigest()
            mqtt_publish(self.plain, topic, [b"\x01", b"\x02" + bytes(40), bytes(16385),
                                             b"\x01" + bytes(60)])
            for refusal in ("truncated", "newer version", "huge", "not of this room, or damaged"):
                said = "korrin-tavrel: signalling: refused a message: " + refusal
                until(lambda: said in host.stderr(), 10,
                      lambda: "no %r on stderr: %s" % (said, host.stderr()[-1500:]))
            os.kill(host.proc.pid, signal.SIGTERM)
            self.assertRun(host, host_opening(room) + ["Gave up waiting for a player."] + CLOSING,
                           0, timeout=CLOSED_WITHIN_S)

        unreachable = free_port(socket.SOCK_DGRAM)
        for what, options, said in (
                ("TURN refusing the credentials", self.room_options(password="wrong"),
                 "TURN authentication failed"),
                ("no TURN server", self.room_options(turn_port=unreachable),
                 "gathered no ICE candidate within 5 s: is the TURN server out of reach?")):
            with self.subTest(what), contextlib.ExitStack() as games:
                host = self.room_game(games, "--host-room", options=options)
                room = self.host_room(host)
                joiner = self.room_game(games, "--join", room, options=options)
                self.assertRun(joiner, [VERSION_LINE, "Joining room %s." % room,
                                        "No answer from room %s." % room, CLOSING[0]], 1,
                               timeout=JOIN_LIMIT_S + 10)
                self.assertIn(said, joiner.stderr())
                os.kill(host.proc.pid, signal.SIGTERM)
                host.finish()
                self.assertIn(said, host.stderr())


if __name__ == "__main__":
    run()
