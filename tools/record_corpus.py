#!/usr/bin/env python3
"""Records the corpus of tests/replays/ by playing matches: the real game under
an Xvfb of its own (the end-to-end runner's Session), keys through xdotool,
each match in a run of its own with --record, then checks each file with
--verify. CTest verifies the corpus on both SDL runtimes and in the sanitized
build; re-record it only when a change of the rules is intended (README,
"Replays").

  /usr/bin/python3 tools/record_corpus.py [build] [NAME...]

NAME picks matches of the list below (default: all). The "tracking" player
follows the ball from raw screenshots (some 40 a second), which gives long
rallies with many bounces off the walls.
"""

import os
import random
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import game_test  # noqa: E402

game_test.ASSETS = ROOT
CORPUS = os.path.join(ROOT, "tests", "replays")
COMPAT = {"LD_LIBRARY_PATH": "/usr/lib/x86_64-linux-gnu/sdl12-compat"}

# The field between the paddles' columns, above the faceoff banner.
FIELD_X = (14, 305)
FIELD_Y = (12, 210)
LEFT_PADDLE_COLUMN = 6
RIGHT_PADDLE_COLUMN = 312
PADDLE_HALF = 25
SCREEN_MIDDLE = 120
DEAD_BAND = 6  # pixels: closer than this the paddle stands


def raw_screen(session):
    """The window's 320x240 pixels as RGB bytes (no PNG to decode: fast)."""
    return subprocess.run(["import", "-display", session.env["DISPLAY"], "-window",
                           session.window(), "-depth", "8", "RGB:-"], check=True, capture_output=True).stdout


def differing_rows(shot, field, columns, rows):
    width = e2e.SCREEN_WIDTH * 3
    return [y for y in range(*rows) for x in columns
            if shot[y * width + 3 * x:y * width + 3 * x + 3] !=
            field[y * width + 3 * x:y * width + 3 * x + 3]]


def middle(values, fallback):
    return sorted(values)[len(values) // 2] if values else fallback


def steer(session, held, key):
    """Holds key (or nothing) instead of what was held."""
    if held != key:
        if held:
            session.key_up(held)
        if key:
            session.key_down(key)
    return key


def track(session, field, seconds, paddles):
    """Steers the given paddles (0 left, 1 right) towards the ball for a
    while: a point is scored only when a paddle is too slow."""
    keys = {0: ("Up", "Down"), 1: ("space", "Alt_L")}
    columns = {0: LEFT_PADDLE_COLUMN, 1: RIGHT_PADDLE_COLUMN}
    held = {p: None for p in paddles}
    end = time.monotonic() + seconds
    # Until the time is up or the match has ended (the menu is back).
    while time.monotonic() < end and game_test.SHOWING_MENU not in session.lines[2:]:
        try:
            shot = raw_screen(session)
        except subprocess.CalledProcessError:
            break  # the match is over and the window changed
        ball = middle(differing_rows(shot, field, range(FIELD_X[0], FIELD_X[1], 3),
                                     FIELD_Y), SCREEN_MIDDLE)
        for p in paddles:
            paddle = middle(differing_rows(shot, field, [columns[p]], (0, 240)), None)
            if paddle is None:
                continue
            up, down = keys[p]
            key = None if abs(ball - paddle) < DEAD_BAND else (up if ball < paddle else down)
            held[p] = steer(session, held[p], key)
    for p in paddles:
        steer(session, held[p], None)


def idle(session, field):
    """Player 1 holds nothing: the computer wins in about 20 s."""


def wander(session, field):
    """Both players hold keys at random, then leave with Escape."""
    rng = random.Random(17)
    for _ in range(40):
        key = rng.choice(["Up", "Down", "space", "Alt_L"])
        session.press(key, hold=rng.uniform(0.05, 0.4), after=rng.uniform(0.0, 0.3))
    session.press("Escape")


def rally_one(session, field):
    """Player 1 follows the ball against the computer until the match ends."""
    track(session, field, 150, [0])


def rally_two(session, field):
    """Both players follow the ball for a while, then leave with Escape."""
    track(session, field, 40, [0, 1])
    session.press("Escape")


def steer_then_idle(session, field):
    """Both paddles steered to the walls, then left standing there."""
    session.press("Up", hold=2.0)
    session.press("Alt_L", hold=2.0)


# name: (runtime environment, players, ball, how the match is played)
MATCHES = {
    "one-player-idle-ball0": ({}, 1, 0, idle),
    "two-player-escape-ball1": ({}, 2, 1, wander),
    "one-player-rallies-ball2": (COMPAT, 1, 2, rally_one),
    "two-player-rallies-ball3": ({}, 2, 3, rally_two),
    "two-player-walls-ball0-compat": (COMPAT, 2, 0, steer_then_idle),
    "one-player-rallies-ball3-compat": (COMPAT, 1, 3, rally_one),
}


def record(game, name):
    env, players, ball, play = MATCHES[name]
    field = bytes(c for row in e2e.read_png(os.path.join(ROOT, "img", "game.png")).rows
                  for pixel in row for c in pixel[:3])
    with e2e.Session([game, "--record", "match.krp"], ROOT, env=env) as session:
        session.open_menu(game_test.shows_menu)
        for _ in range(ball):
            session.press("Tab")
        if players == 2:
            session.press("Down")
        session.press("Return")
        session.wait_for_line(game_test.EXITING_MENU)
        play(session, field)
        # Back in the menu (after a game-over hold of 5 s), then leave.
        session.leave_from_fresh_menu(game_test.shows_menu, 2, timeout=200)
        lines, status = session.finish()
        if status != 0:
            raise SystemExit("%s: the game ended with %d: %r" % (name, status, lines))
        shutil.copy(os.path.join(session.workdir, "match.krp"),
                    os.path.join(CORPUS, name + ".krp"))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    game = os.path.abspath(os.path.join(build, "korrin-tavrel"))
    names = sys.argv[2:] or list(MATCHES)
    os.makedirs(CORPUS, exist_ok=True)
    for name in names:
        record(game, name)
        path = os.path.join(CORPUS, name + ".krp")
        check = subprocess.run([game, "--verify", path], capture_output=True, text=True)
        print("%s (%d bytes): %s" % (name, os.path.getsize(path),
                                     (check.stdout + check.stderr).strip()))
        if check.returncode != 0:
            raise SystemExit(1)


if __name__ == "__main__":
    main()
