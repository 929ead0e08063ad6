#!/usr/bin/python3
"""Records the README's pictures from the real game under Xvfb.

    /usr/bin/python3 tools/record_media.py [BUILD_DIR]        (default: build)

Builds nothing: runs BUILD_DIR/korrin-tavrel through the end-to-end runner's
Session (tests/e2e/e2e.py: an Xvfb of its own, keys through xdotool) and
writes, each 320x240 screen scaled 2x with -filter point:

    docs/menu.png       the menu as it opens
    docs/match.gif      about 6 s of a one-player match, 12.5 frames a second,
                        from the "GET READY" wait on, player 1 moving up and down
    docs/match.png      a screen of that match with the ball in play
    docs/game-over.png  the game-over screen of a second one-player match, in
                        which player 1 stays idle (it ends in about 25 s)

Needs Xvfb, xdotool and ImageMagick (tools/setup.sh installs them). Takes
about 45 s. Run it again whenever the artwork changes.
"""

import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import game_test  # noqa: E402  (its pictures of the screens the game must show)

game_test.ASSETS = ROOT
DOCS = os.path.join(ROOT, "docs")

GIF_FRAME_S = 0.08  # 12.5 frames a second
GIF_START_S = 2.6   # after the match is first seen: about 1 s before the serve
GIF_LENGTH_S = 6.0
STEER_S = 0.9       # player 1 holds Down, then Up, for this long each
# Where "GET READY" stands while the ball waits: a match screen showing the
# field there has the ball in play.
BANNER_AREA = (91, 211, 139, 27)


def ball_in_play(image):
    x, y, w, h = BANNER_AREA
    return not e2e.mismatches(image, game_test.asset("img/game.png"), x, y, w, h,
                              game_test.TOLERANCE)


def save_scaled(shot, name):
    subprocess.run(["convert", shot, "-filter", "point", "-resize", "200%", "-strip",
                    os.path.join(DOCS, name)], check=True)


def record_match(session):
    """Captures GIF frames of the match while player 1 steers; returns the
    frames (PNG files) with their lengths in seconds, and the first frame
    from GIF_START_S on with the ball in play (None if there is none)."""
    frames = []
    keys = ["Down", "Up"]
    session.key_down(keys[0])
    start = time.monotonic()
    next_steer = start + STEER_S
    while time.monotonic() - start < GIF_LENGTH_S:
        due = start + len(frames) * GIF_FRAME_S
        time.sleep(max(0.0, due - time.monotonic()))
        frames.append((session.window_shot("frame", decode=False), time.monotonic()))
        if time.monotonic() >= next_steer:
            session.key_up(keys[0])
            keys.reverse()
            session.key_down(keys[0])
            next_steer += STEER_S
    session.key_up(keys[0])
    # Decoded only now, so as not to hold up the capture.
    match_shot = next((path for path, taken in frames if taken - start > GIF_START_S
                       and ball_in_play(e2e.read_png(path))), None)
    # Each frame lasts until the next was taken (the last one: one period).
    lengths = [later[1] - frame[1] for frame, later in zip(frames, frames[1:])] + [GIF_FRAME_S]
    return [(path, length) for (path, _), length in zip(frames, lengths)], match_shot


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    game = os.path.join(build, "korrin-tavrel")
    if not os.access(game, os.X_OK):
        sys.exit("%s is missing: cmake --build %s first" % (game, build))
    os.makedirs(DOCS, exist_ok=True)
    shows_menu = game_test.shows_menu
    with e2e.Session(game, ROOT) as session:
        session.open_menu(shows_menu)
        save_scaled(os.path.join(session.workdir, session.last_screenshot), "menu.png")

        # A one-player match, filmed while player 1 moves; left with Escape.
        session.press("Return")
        session.wait_for_line(game_test.EXITING_MENU)
        session.wait_for_screen(game_test.paddle_at(0, game_test.PADDLE_START_Y), "the match")
        time.sleep(GIF_START_S)
        frames, match_shot = record_match(session)
        if match_shot is None:
            raise e2e.E2EError("no screenshot with the ball in play")
        save_scaled(match_shot, "match.png")
        command = ["convert", "-loop", "0"]
        for path, length in frames:
            command += ["-delay", str(max(2, round(length * 100))), path]
        command += ["-filter", "point", "-resize", "200%", "-layers", "Optimize",
                    os.path.join(DOCS, "match.gif")]
        subprocess.run(command, check=True)
        session.press("Escape")

        # A second one, player 1 idle, to its game-over screen.
        session.wait_for_menu(shows_menu, 2)
        session.press("Return")
        session.wait_for_line(game_test.EXITING_MENU, 2)
        session.wait_for_screen(game_test.shows_game_over_tile, "the game-over screen",
                                timeout=90, interval=0.25)
        save_scaled(os.path.join(session.workdir, session.last_screenshot), "game-over.png")

        session.leave_from_fresh_menu(shows_menu, 3, timeout=15)
        session.finish(check=True)
    for name in ("menu.png", "match.png", "match.gif", "game-over.png"):
        print("docs/%-14s %7d bytes" % (name, os.path.getsize(os.path.join(DOCS, name))))


if __name__ == "__main__":
    main()
