#!/usr/bin/env python3
"""Online matches in a room between two installed games, each under its own
X server: a local mosquitto carries the signalling, a local coturn every
datagram (relay-only ICE, as two strict home routers force).

Run through CTest (tests/CMakeLists.txt); see game_test.py for the command line.
"""

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
WAITING_IN_ROOM = "Waiting for a player in room "


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def until(found, timeout, failure):
    """found()'s first answer that is not empty within `timeout` s, else an AssertionError."""
    deadline = time.monotonic() + timeout
    while not (answer := found()):
        if time.monotonic() > deadline:
            raise AssertionError(failure())
        time.sleep(0.05)
    return answer


def host_opening(room):
    """What a game hosting `room` says before a player joins."""
    return [VERSION_LINE, WAITING_IN_ROOM + room + ".",
            "The other player joins with: korrin-tavrel --join " + room]


def mqtt_publish(port, topic, payloads):
    """Each payload published to the topic on the broker's plain listener (MQTT 3.1.1, QoS 0)."""
    def packet(kind, body):  # its type, the body's length in 7-bit groups (lowest first), the body
        size = len(body)
        groups = [size >> shift & 0x7f for shift in range(0, 28, 7) if not shift or size >> shift]
        return bytes([kind] + [group | 0x80 for group in groups[:-1]] + groups[-1:]) + body

    def text(t):
        return struct.pack(">H", len(t)) + t
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(packet(0x10, text(b"MQTT") + bytes([4, 2]) + struct.pack(">H", 30)
                         + text(b"korrin-test")))
        if s.recv(4)[:1] != b"\x20":
            raise AssertionError("mosquitto did not take the connection")
        s.sendall(b"".join(packet(0x30, text(topic.encode()) + payload) for payload in payloads)
                  + packet(0xe0, b""))


class Rooms(GameTest):
    def setUp(self):
        super().setUp()
        self.temp = self.enterContext(tempfile.TemporaryDirectory())
        self.plain, websocket = free_port(), free_port()
        self.turn_port = free_port(socket.SOCK_DGRAM)
        self.broker = "ws://127.0.0.1:%d" % websocket
        self.daemon("mosquitto", websocket, [
            "listener %d 127.0.0.1" % self.plain, "allow_anonymous true",
            "listener %d 127.0.0.1" % websocket, "protocol websockets", "allow_anonymous true"])
        self.daemon("turnserver", self.turn_port, [
            "listening-ip=127.0.0.1", "listening-port=%d" % self.turn_port, "relay-ip=127.0.0.1",
            "realm=korrin.test", "lt-cred-mech", "user=%s:%s" % (TURN_USER, TURN_PASSWORD),
            "fingerprint", "no-tls", "no-dtls", "no-tcp-relay", "no-cli", "allow-loopback-peers",
            "log-file=%s" % os.path.join(self.temp, "turn.log"), "simple-log",
            "pidfile=%s" % os.path.join(self.temp, "turn.pid")])

    def daemon(self, command, port, lines):
        """`command` with these lines for its configuration, once it listens on `port`."""
        config = os.path.join(self.temp, command + ".conf")
        with open(config, "w") as f:
            f.write("\n".join(lines) + "\n")
        daemon = subprocess.Popen([command, "-c", config], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(daemon.wait)
        self.addCleanup(daemon.kill)  # (cleanups run last first)

        def listens():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", port)) == 0
        until(listens, 5, lambda: "%s does not listen on %d" % (command, port))

    def room_game(self, *arguments, turn_port=None, password=TURN_PASSWORD, broker=None):
        """A game with `arguments` and the room's servers (or those given), ended with the test."""
        ice = {"iceServers": [{"urls": "turn:127.0.0.1:%d" % (turn_port or self.turn_port),
                               "username": TURN_USER, "credential": password}],
               "iceTransportPolicy": "relay"}
        command = [os.path.abspath(GAME), *arguments, "--signal", broker or self.broker,
                   "--ice", json.dumps(ice)]
        return self.enterContext(self.game(command=command, assets=ASSETS)).start()

    def host_room(self, session):
        """The room a hosting game says it waits in."""
        return until(lambda: next((line[len(WAITING_IN_ROOM):-1] for line in session.lines
                                   if line.startswith(WAITING_IN_ROOM)), None), 15,
                     lambda: "no room: %r; stderr %s" % (session.lines, session.stderr()[-1500:]))

    def match_in_room(self, watchers=False):
        """A whole match; with watchers, three: one there before the match,
        one that joins once it runs (and watches), one that comes mid-match."""
        host = self.room_game("--host-room", "--record", online.RECORDING)
        room = self.host_room(host)
        watching = [VERSION_LINE, "Watching room %s." % room]
        early = self.room_game("--watch", room) if watchers else None
        joiner = self.room_game("--join", room.upper(), "--record", online.RECORDING)
        sides = {"host": host, "join": joiner}
        opening = {"host": host_opening(room), "join": [VERSION_LINE, "Joining room %s." % room]}
        try:
            for name, session in sides.items():
                session.wait_for_line(online.MATCH_STARTS[name], timeout=15)
                session.focus()
            steering = [online.Steering(session, online.STEERING[name])
                        for name, session in sides.items()]
            seen = {}  # each watcher, and the lines it opens with
            if watchers:
                third = self.room_game("--join", room)
                third.wait_for_line(watching[1], timeout=20)
                time.sleep(5)
                seen = {"there before": (early, watching),
                        "joined": (third, opening["join"] + watching[1:]),
                        "mid-match": (self.room_game("--watch", "index.html?join=" + room),
                                      watching)}
            finals, scores = online.Online.final_scores(self, sides, steering)
            for name, session in sides.items():
                self.assertRun(session, opening[name] + [online.MATCH_STARTS[name]]
                               + finals[name] + CLOSING, 0, timeout=20)
            for name, (session, lines) in seen.items():
                with self.subTest(name):
                    self.assertRun(session, lines + finals["host"] + CLOSING, 0, timeout=20)
            self.assertNotIn("dropped a watcher", host.stderr())
            online.Online.assertSameRecordedMatch(self, host, joiner, scores)
        except Exception as failure:
            for name, session in sides.items():
                failure.add_note("%s printed %r, status %r; stderr: %s" % (
                    name, session.lines, session.proc.poll(), session.stderr()[-1500:]))
            raise

    def test_whole_match_through_turn(self):
        """With three watchers, who print the players' final score."""
        self.match_in_room(watchers=True)

    def test_whole_match_through_turn_behind_a_lossy_path(self):
        """Each datagram to and from coturn 50 +- 10 ms late, 5 % of them lost."""
        with relay.Relay(self.turn_port, 50, 10, 0.05, seed=35) as proxy:
            self.turn_port = proxy.port  # the games' way to coturn
            self.match_in_room()

    def test_bad_servers_and_messages_each_said_without_a_hang(self):
        """A broker that never answers; messages of the room not ours to read;
        TURN refusing the credentials; no TURN server at all: each said on its
        own line, the session failing as ever; SIGTERM ends a waiting game at once."""
        silent = self.enterContext(socket.create_server(("127.0.0.1", 0)))  # never answers
        host = self.room_game("--host-room", broker="ws://127.0.0.1:%d" % silent.getsockname()[1])
        self.assertRun(host, [VERSION_LINE, "Cannot host: no signalling server answered within "
                              "10 s.", CLOSING[0]], 1, timeout=15)

        host = self.room_game("--host-room")
        room = self.host_room(host)
        refusals = {b"\x01": "truncated", b"\x02" + bytes(40): "newer version",
                    bytes(16385): "huge", b"\x01" + bytes(60): "not of this room, or damaged"}
        mqtt_publish(self.plain, "korrin-tavrel/1/" + hashlib.sha256(
            ("korrin-tavrel room " + room).encode()).hexdigest(), refusals)
        said = ["korrin-tavrel: signalling: refused a message: " + r for r in refusals.values()]
        until(lambda: all(line in host.stderr() for line in said), 10,
              lambda: "not all of %r on stderr: %s" % (said, host.stderr()[-1500:]))
        os.kill(host.proc.pid, signal.SIGTERM)
        # Within 5 s: well before any of the link's waits (10 s).
        self.assertRun(host, host_opening(room) + ["Gave up waiting for a player."] + CLOSING, 0,
                       timeout=5)

        for what, servers, said in (
                ("TURN refusing the credentials", {"password": "wrong"},
                 "TURN authentication failed"),
                ("no TURN server", {"turn_port": free_port(socket.SOCK_DGRAM)},
                 "gathered no ICE candidate within 5 s: is the TURN server out of reach?")):
            with self.subTest(what):
                host = self.room_game("--host-room", **servers)
                room = self.host_room(host)
                joiner = self.room_game("--join", room, **servers)
                # A joining game without a match within 10 s gives up.
                self.assertRun(joiner, [VERSION_LINE, "Joining room %s." % room,
                                        "No answer from room %s." % room, CLOSING[0]], 1,
                               timeout=20)
                for session in (joiner, host):
                    self.assertIn(said, session.stderr())
                host.proc.terminate()


if __name__ == "__main__":
    run()
