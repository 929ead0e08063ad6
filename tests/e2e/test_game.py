#!/usr/bin/env python3
"""End-to-end tests: the real korrin-tavrel, real key presses, every line of
standard output and the exit status compared exactly, and the screen checked
pixel by pixel against the game's own images.

  test_game.py --game build/korrin-tavrel --assets . --mixer-version 1.2.12 \
      [--keep DIR] [--build DIR] [unittest arguments, e.g. Menu.test_leave_from_first_menu]

--keep names a directory where the screenshots of a failing test are kept.
--build names the build directory that the install test installs from.
"""

import argparse
import contextlib
import functools
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402

GAME = None
ASSETS = None
KEEP_DIR = None
BUILD_DIR = None
CMAKE = "cmake"
VERSION_LINE = None

SHOWING_MENU = "Showing menu now"
EXITING_MENU = "Exiting menu."
CLOSING = ["SDL, SDL_mixer, and TTF have been shut down.",
           "Korrin Tavrel is exiting normally."]
INIT_FAILED = "Some errors occurred during initialization."
PNG_MISSING = "Unable to load a necessary PNG file."

# Screen geometry, as the game's images lay it out.
FIRST_ENTRY_BAND = (0, 0, None, 16)  # width: the whole highlight image
FIRST_ENTRY_AT = (63, 78)
GAME_OVER_TILE = (23, 102, 11, 11)
GAME_OVER_BANNER = (49, 1, 349, 27)
GAME_OVER_BANNER_AT = (-14, 88)
WINNER_BANNER_FIRST_ROW = {0: 58, 1: 30}  # by the winner's index
WINNER_BANNER_AT = (0, 152)
LEFT_PADDLE_X, RIGHT_PADDLE_X = 1, 307
LEFT_PADDLE_SPRITE = (1, 1, 11, 50)
RIGHT_PADDLE_SPRITE = (25, 1, 11, 50)
PADDLE_START_Y = 95
PADDLE_TOP_Y, PADDLE_BOTTOM_Y = 7, 187

# A 100 % opaque pixel blitted by SDL can come out 1 off (its blend rounds).
TOLERANCE = 2


@functools.lru_cache(maxsize=None)
def asset(name):
    return e2e.read_png(os.path.join(ASSETS, name))


def copy_of(image):
    return e2e.Image(image.width, image.height, [list(row) for row in image.rows])


@functools.lru_cache(maxsize=None)
def menu_screen():
    """The menu as it opens: the background with entry 0 highlighted."""
    screen = copy_of(asset("img/menu.png"))
    highlights = asset("img/menu-opts.png")
    x, y, _, h = FIRST_ENTRY_BAND
    e2e.draw(screen, highlights, (x, y, highlights.width, h), *FIRST_ENTRY_AT)
    return screen


@functools.lru_cache(maxsize=None)
def game_over_screen(winner):
    """The tile on an 11-pixel grid, "GAME OVER", and the winner's banner."""
    sheet = asset("img/game-sprites.png")
    screen = e2e.blank(e2e.SCREEN_WIDTH, e2e.SCREEN_HEIGHT)
    step = GAME_OVER_TILE[2]
    for x in range(0, e2e.SCREEN_WIDTH, step):
        for y in range(0, e2e.SCREEN_HEIGHT, step):
            e2e.draw(screen, sheet, GAME_OVER_TILE, x, y)
    e2e.draw(screen, sheet, GAME_OVER_BANNER, *GAME_OVER_BANNER_AT)
    e2e.draw(screen, sheet, (49, WINNER_BANNER_FIRST_ROW[winner], 349, 27), *WINNER_BANNER_AT)
    return screen


def differing(image, expected, x=0, y=0, w=e2e.SCREEN_WIDTH, h=e2e.SCREEN_HEIGHT):
    return e2e.mismatches(image, expected, x, y, w, h, TOLERANCE)


def shows_menu(image):
    return not differing(image, menu_screen())


def shows_game_over_tile(image):
    tile = GAME_OVER_TILE
    return not differing(image, game_over_screen(0), 0, 0, tile[2], tile[3])


def paddle_rows(image, x, sprite):
    """Every row y at which the paddle sprite, drawn over the field at (x, y),
    is what the screenshot shows in the paddle's columns."""
    field = asset("img/game.png")
    sheet = asset("img/game-sprites.png")
    sx, sy, w, h = sprite

    def drawn_at(y):
        return all(e2e.close(image.rows[y + row][x + col],
                             e2e.blend(field.rows[y + row][x + col],
                                       sheet.rows[sy + row][sx + col]), TOLERANCE)
                   for row in range(h) for col in range(w))

    return [y for y in range(e2e.SCREEN_HEIGHT - h + 1) if drawn_at(y)]


def left_paddle_at(y):
    return lambda image: paddle_rows(image, LEFT_PADDLE_X, LEFT_PADDLE_SPRITE) == [y]


def right_paddle_at(y):
    return lambda image: paddle_rows(image, RIGHT_PADDLE_X, RIGHT_PADDLE_SPRITE) == [y]


class ScoreWatch:
    """Counts the points of a match from screenshots: every change of a
    score text is one point. Only the rows above the ball's reach are read."""

    AREAS = ((100, 0, 58, 12), (162, 0, 58, 12))  # x, y, w, h: left, right

    def __init__(self):
        self.seen = ([], [])  # each side's texts, in the order they appeared

    def watch(self, image):
        for side, (x, y, w, h) in enumerate(self.AREAS):
            text = tuple(tuple(row[x:x + w]) for row in image.rows[y:y + h])
            if not self.seen[side] or self.seen[side][-1] != text:
                if text in self.seen[side]:
                    raise AssertionError("a score went back to an earlier value")
                self.seen[side].append(text)

    def points(self):
        return tuple(len(texts) - 1 for texts in self.seen)


class GameTest(unittest.TestCase):
    maxDiff = None

    @contextlib.contextmanager
    def game(self, command=None, **options):
        """A session of the built game with copies of the assets, or of another
        command (an installed launcher, which finds its own assets) in an empty
        directory; a failing test keeps its screenshots."""
        assets = ASSETS if command is None else None
        with e2e.Session(command or GAME, assets, **options) as session:
            try:
                yield session
            except BaseException:
                if KEEP_DIR:
                    into = os.path.join(KEEP_DIR, self.id())
                    session.keep_screenshots(into)
                    print("screenshots kept in", into, file=sys.stderr)
                raise

    def assertRun(self, session, lines, status, timeout=10.0):
        """The game ends with exactly these lines and this status."""
        printed, exit_status = session.finish(timeout)
        self.assertEqual(printed, lines)
        self.assertEqual(exit_status, status, "exit status")

    def open_menu(self, session):
        session.start()
        session.wait_for_line(SHOWING_MENU)
        session.focus()
        session.wait_for_screen(shows_menu, "the menu")

    def leave_from_fresh_menu(self, session, visits):
        """From a menu just opened (entry 0 highlighted): up wraps to QUIT."""
        session.wait_for_line(SHOWING_MENU, visits)
        session.wait_for_screen(shows_menu, "the menu with entry 0 highlighted")
        session.press("Up")
        session.press("Return")


class StartUpFailures(GameTest):
    def test_no_audio_device(self):
        with self.game(env={"SDL_AUDIODRIVER": "bogus"}) as session:
            session.start()
            self.assertRun(session, [VERSION_LINE,
                                     "Mix_OpenAudio error: No available audio device",
                                     "Error during sound init.",
                                     INIT_FAILED], 1)

    def test_font_missing(self):
        with self.game(without=["img/hyperfont.ttf"]) as session:
            session.start()
            self.assertRun(session, [VERSION_LINE,
                                     "Error loading font. Couldn't open img/hyperfont.ttf",
                                     INIT_FAILED], 1)

    def test_unknown_video_driver(self):
        with self.game(env={"SDL_VIDEODRIVER": "bogus"}, display=False) as session:
            session.start()
            self.assertRun(session, ["Couldn't initialize SDL: No available video device",
                                     INIT_FAILED], 1)


class Menu(GameTest):
    def test_leave_from_first_menu(self):
        with self.game() as session:
            self.open_menu(session)  # also: the menu is drawn, entry 0 lit
            self.leave_from_fresh_menu(session, 1)
            self.assertRun(session, [VERSION_LINE, SHOWING_MENU, EXITING_MENU] + CLOSING, 0)

    def test_missing_menu_asset_leaves_normally(self):
        cases = [("img/menu.png", PNG_MISSING),
                 ("img/menu-opts.png", PNG_MISSING),
                 ("snd/menu-opt.wav", "Unable to load a necessary sound file.")]
        for missing, line in cases:
            with self.subTest(missing=missing), self.game(without=[missing]) as session:
                session.start()
                self.assertRun(session, [VERSION_LINE, SHOWING_MENU, line] + CLOSING, 0)


class MatchAssets(GameTest):
    def test_missing_match_asset_aborts(self):
        cases = [("img/game.png", [PNG_MISSING, "Error loading images. Aborting."]),
                 ("img/game-sprites.png", [PNG_MISSING, "Error loading images. Aborting."]),
                 ("snd/bounce.wav", ["Mix_LoadWAV error occurred: Mix_LoadWAV_RW with NULL src",
                                     "Error loading sounds. Aborting."])]
        for missing, lines in cases:
            with self.subTest(missing=missing), self.game(without=[missing]) as session:
                self.open_menu(session)
                session.press("Return")  # 1 PLAYER
                self.assertRun(session, [VERSION_LINE, SHOWING_MENU, EXITING_MENU] + lines, 1)


class Match(GameTest):
    def test_one_player_match_played_to_the_end(self):
        with self.game() as session:
            self.open_menu(session)
            session.press("Return")  # 1 PLAYER; player 1 stays idle
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(left_paddle_at(PADDLE_START_Y), "the match")

            # Five points take about 20 s; lucky returns by the idle paddle
            # make it longer. Each score stays on screen for the 2.4 s wait
            # after a point, so polling sees every score but the final one.
            scores = ScoreWatch()

            def game_over(shot):
                if shows_game_over_tile(shot):
                    return True
                scores.watch(shot)
                return False

            image = session.wait_for_screen(game_over, "the game-over screen",
                                            timeout=60, interval=0.2)
            seen_at = time.monotonic()
            points = scores.points()
            # The side seen with four points wins with the next one (at 4 to 4
            # either may); rarely a screenshot catches the frame showing 5.
            lead = max(points)
            winners = [side for side in (0, 1) if points[side] == lead]
            self.assertTrue(lead in (4, 5) and min(points) < 5,
                            "scores seen (player 1, player 2): %r" % (points,))
            wrong = {winner: len(differing(image, game_over_screen(winner))) for winner in (0, 1)}
            self.assertTrue(any(wrong[winner] == 0 for winner in winners),
                            "game-over screen for winner(s) %r expected after scores %r; "
                            "pixels off, by winner: %r (screenshot %s)"
                            % (winners, points, wrong, session.last_screenshot))

            # The game-over screen is held for 5 s before the menu returns.
            session.wait_for_line(SHOWING_MENU, 2)
            self.assertGreater(time.monotonic() - seen_at, 4.0)
            self.leave_from_fresh_menu(session, 2)
            self.assertRun(session, [VERSION_LINE, SHOWING_MENU, EXITING_MENU,
                                     SHOWING_MENU, EXITING_MENU] + CLOSING, 0)

    def test_two_player_match_left_with_escape(self):
        with self.game() as session:
            self.open_menu(session)
            session.press("Down")
            session.press("Return")  # 2 PLAYERS
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(right_paddle_at(PADDLE_START_Y), "player 2's paddle")

            # Player 2 steers: Space moves the right paddle up to its bound.
            session.key_down("space")
            session.wait_for_screen(right_paddle_at(PADDLE_TOP_Y),
                                    "player 2's paddle at the top", timeout=5)
            session.key_up("space")

            escaped_at = time.monotonic()
            session.press("Escape")
            # No game-over screen: the menu is back at once, not after 5 s.
            session.wait_for_line(SHOWING_MENU, 2, timeout=3)
            self.assertLess(time.monotonic() - escaped_at, 3.0)
            self.leave_from_fresh_menu(session, 2)
            self.assertRun(session, [VERSION_LINE, SHOWING_MENU, EXITING_MENU,
                                     SHOWING_MENU, EXITING_MENU] + CLOSING, 0)

    def test_player_one_steers_to_the_bounds(self):
        with self.game() as session:
            self.open_menu(session)
            session.press("Return")  # 1 PLAYER
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(left_paddle_at(PADDLE_START_Y), "player 1's paddle at the start")

            for key, bound in (("Down", PADDLE_BOTTOM_Y), ("Up", PADDLE_TOP_Y)):
                session.key_down(key)
                # The ball may cover the paddle in a screenshot: look again.
                session.wait_for_screen(left_paddle_at(bound),
                                        "player 1's paddle at row %d" % bound, timeout=5)
                session.key_up(key)

            session.press("Escape")
            self.leave_from_fresh_menu(session, 2)
            self.assertRun(session, [VERSION_LINE, SHOWING_MENU, EXITING_MENU,
                                     SHOWING_MENU, EXITING_MENU] + CLOSING, 0)


class Install(GameTest):
    def test_installed_launcher_runs_from_anywhere(self):
        if BUILD_DIR is None:
            self.skipTest("--build not given")
        with tempfile.TemporaryDirectory(prefix="korrin-prefix-") as prefix:
            subprocess.run([CMAKE, "--install", BUILD_DIR, "--prefix", prefix], check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=60)
            # Found on the PATH and started in an empty directory: the launcher
            # must take the game to its data folder, or no image would load.
            path = os.path.join(prefix, "bin") + os.pathsep + os.environ.get("PATH", "")
            with self.game(command=["korrin-tavrel"], env={"PATH": path}) as session:
                self.open_menu(session)
                self.leave_from_fresh_menu(session, 1)
                self.assertRun(session, [VERSION_LINE, SHOWING_MENU, EXITING_MENU] + CLOSING, 0)

            # The desktop entry and its icon where freedesktop looks for them.
            share = os.path.join(prefix, "share")
            with open(os.path.join(share, "applications", "korrin-tavrel.desktop")) as f:
                lines = f.read().splitlines()
            self.assertEqual(lines[0], "[Desktop Entry]")
            entry = dict(line.split("=", 1) for line in lines[1:] if "=" in line)
            self.assertEqual(entry["Type"], "Application")
            self.assertTrue(os.access(os.path.join(prefix, "bin", entry["Exec"].split()[0]),
                                      os.X_OK), "Exec=%s is not the installed launcher"
                            % entry["Exec"])
            icon = e2e.read_png(os.path.join(share, "icons", "hicolor", "64x64", "apps",
                                             entry["Icon"] + ".png"))
            self.assertEqual((icon.width, icon.height), (64, 64))


def main():
    global GAME, ASSETS, KEEP_DIR, BUILD_DIR, CMAKE, VERSION_LINE
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--game", required=True, help="the korrin-tavrel executable")
    parser.add_argument("--assets", required=True, help="the directory holding img/ and snd/")
    parser.add_argument("--mixer-version", required=True,
                        help="the SDL_mixer version the game was built with")
    parser.add_argument("--keep", help="where a failing test keeps its screenshots")
    parser.add_argument("--build", help="the build directory to install from")
    parser.add_argument("--cmake", default="cmake", help="the cmake program")
    options, rest = parser.parse_known_args()
    GAME, ASSETS, KEEP_DIR = options.game, options.assets, options.keep
    BUILD_DIR, CMAKE = options.build, options.cmake
    VERSION_LINE = "Compiled with SDL_mixer version: " + options.mixer_version
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
