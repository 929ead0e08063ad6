#!/usr/bin/env python3
"""What every end-to-end scenario shares: the real korrin-tavrel, real key
presses, every line of standard output and the exit status compared exactly,
and the screen checked pixel by pixel against the game's own images.

  test_FEATURE.py --game build/korrin-tavrel --assets . --mixer-version 1.2.12 \
      [--keep DIR] [--build DIR] [unittest arguments, e.g. Menu.test_leave_from_first_menu]

The scenarios live in a file per feature (test_startup.py, test_match.py,
test_desktop.py, test_install.py, test_online.py); each calls configure(),
takes this module's names with `from game_test import *` and ends with
`run()`.

--keep names a directory where the screenshots of a failing test are kept.
--build names the build directory that the install test installs from.
--pad-shim names the built tests/e2e/pad_shim.c, which gives the game a pad.
"""

import argparse
import contextlib
import functools
import itertools
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from unittest import mock

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
import relay  # noqa: E402


GAME = None
ASSETS = None
KEEP_DIR = None
BUILD_DIR = None
CMAKE = "cmake"
PAD_SHIM = None
VERSION_LINE = None
_UNITTEST_ARGUMENTS = []


def configure():
    """Reads the command line into this module's names; a scenario file
    calls it before it takes them (`from game_test import *`). The tools
    that borrow the pictures below set ASSETS themselves instead."""
    global GAME, ASSETS, KEEP_DIR, BUILD_DIR, CMAKE, PAD_SHIM, VERSION_LINE, _UNITTEST_ARGUMENTS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--game", required=True, help="the korrin-tavrel executable")
    parser.add_argument("--assets", required=True, help="the directory holding img/ and snd/")
    parser.add_argument("--mixer-version", required=True,
                        help="the SDL_mixer version the game was built with")
    parser.add_argument("--keep", help="where a failing test keeps its screenshots")
    parser.add_argument("--build", help="the build directory to install from")
    parser.add_argument("--cmake", default="cmake", help="the cmake program")
    parser.add_argument("--pad-shim", help="the built tests/e2e/pad_shim.c")
    options, _UNITTEST_ARGUMENTS = parser.parse_known_args()
    GAME, ASSETS, KEEP_DIR = options.game, options.assets, options.keep
    BUILD_DIR, CMAKE, PAD_SHIM = options.build, options.cmake, options.pad_shim
    VERSION_LINE = "Compiled with SDL_mixer version: " + options.mixer_version

SHOWING_MENU = e2e.SHOWING_MENU
EXITING_MENU = "Exiting menu."
CLOSING = ["SDL, SDL_mixer, and TTF have been shut down.",
           "Korrin Tavrel is exiting normally."]
INIT_FAILED = "Some errors occurred during initialization."
PNG_MISSING = "Unable to load a necessary PNG file."
FONT_MISSING = "Error loading font. Couldn't open img/hyperfont.ttf"
FONT_UNREADABLE = "Error loading font. Couldn't load font file"
IMAGES_ABORTED = [PNG_MISSING, "Error loading images. Aborting."]
NO_VIDEO_DEVICE = ["Couldn't initialize SDL: No available video device", INIT_FAILED]

# Screen geometry, as the game's images lay it out.
FIRST_ENTRY_BAND = (0, 0, None, 16)  # width: the whole highlight image
FIRST_ENTRY_AT = (63, 78)
ENTRY_SPACING = 33  # rows between two entries, in the highlights and on the screen
GAME_OVER_TILE = (23, 102, 11, 11)
GAME_OVER_BANNER = (49, 1, 349, 27)
GAME_OVER_BANNER_AT = (-14, 88)
WINNER_BANNER_FIRST_ROW = {0: 58, 1: 30}  # by the winner's index
WINNER_BANNER_AT = (0, 152)
LEFT_PADDLE_X, RIGHT_PADDLE_X = 1, 307
LEFT_PADDLE_SPRITE = (1, 1, 11, 50)
RIGHT_PADDLE_SPRITE = (25, 1, 11, 50)
PADDLES = ((LEFT_PADDLE_X, LEFT_PADDLE_SPRITE), (RIGHT_PADDLE_X, RIGHT_PADDLE_SPRITE))
PADDLE_START_Y = 95
PADDLE_TOP_Y, PADDLE_BOTTOM_Y = 7, 187
SCORE_TEXTS = (100, 0, 120, 16)  # x, y, w, h: both score texts lie within
BALL_TOP_Y = 12  # the highest row the ball reaches
READY_BANNER, READY_BANNER_AT = (1, 127, 139, 27), (91, 211)  # "GET READY" while the ball waits
HOLD_BANNER, HOLD_BANNER_AT = (227, 127, 119, 27), (101, 107)  # "PAUSED"

# The pad of tests/e2e/pad_shim.c, in the game's raw layout.
PAD_STICK_Y, PAD_DPAD_Y = 1, 3  # axes; up is negative
PAD_FULL = 32767
PAD_A, PAD_BACK, PAD_START = 0, 6, 7

# A 100 % opaque pixel blitted by SDL can come out 1 off (its blend rounds).
TOLERANCE = 2


def expected_lines(menu_visits):
    """All that a run prints which opens the menu `menu_visits` times, leaves
    it each time (for a match, or at last to quit) and ends normally."""
    return [VERSION_LINE] + [SHOWING_MENU, EXITING_MENU] * menu_visits + CLOSING


@functools.lru_cache(maxsize=None)
def asset(name):
    return e2e.read_png(os.path.join(ASSETS, name))


def copy_of(image):
    return e2e.Image(image.width, image.height, [list(row) for row in image.rows])


@functools.lru_cache(maxsize=None)
def menu_screen(highlights=None, entry=0):
    """The menu with an entry highlighted, by default entry 0 as the menu
    opens (from the game's own highlights image unless another is given)."""
    screen = copy_of(asset("img/menu.png"))
    highlights = highlights or asset("img/menu-opts.png")
    x, y, _, h = FIRST_ENTRY_BAND
    step = ENTRY_SPACING * entry
    e2e.draw(screen, highlights, (x, y + step, highlights.width, h),
             FIRST_ENTRY_AT[0], FIRST_ENTRY_AT[1] + step)
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


def shows_menu(image, highlights=None):
    """The menu as it opens (see menu_screen)."""
    return not differing(image, menu_screen(highlights))


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


def shows_banner(image, banner, at):
    """The sprite sheet's (opaque) banner is drawn at `at`."""
    expected = copy_of(image)
    e2e.draw(expected, asset("img/game-sprites.png"), banner, *at)
    return not differing(image, expected, *at, *banner[2:])


def paddle_at(player, y):
    """A screen test: the paddle of player 1 (0) or 2 (1) is drawn at row y
    and at no other."""
    x, sprite = PADDLES[player]
    return lambda image: paddle_rows(image, x, sprite) == [y]


class ScoreWatch:
    """Counts the points of a match from screenshots: every change of a
    score text is one point. Only the rows above the ball's reach are read,
    in each half of SCORE_TEXTS less 2 columns at the centre."""

    def __init__(self):
        x, y, w, _ = SCORE_TEXTS
        half, rows = w // 2 - 2, BALL_TOP_Y - y
        self.areas = ((x, y, half, rows), (x + w - half, y, half, rows))  # left, right
        self.seen = ([], [])  # each side's texts, in the order they appeared

    def watch(self, image):
        for side, (x, y, w, h) in enumerate(self.areas):
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
        """A session of the built game with copies of the assets (unless
        `assets` says otherwise), or of another command (an installed launcher,
        which finds its own assets) in an empty directory; a failing test keeps
        its screenshots."""
        options.setdefault("assets", ASSETS if command is None else None)
        with e2e.Session(command or GAME, **options) as session:
            try:
                yield session
            except BaseException:
                if KEEP_DIR:
                    into = os.path.join(KEEP_DIR, self.id())
                    session.keep_screenshots(into)
                    print("screenshots kept in", into, file=sys.stderr)
                raise

    def assertRun(self, session, lines, status, timeout=10.0):
        """The game ends with exactly these lines and this status, and leaves
        no process and no window behind."""
        printed, exit_status = session.finish(timeout)
        self.assertEqual(printed, lines, "stderr:\n" + session.stderr()[-3000:])
        self.assertEqual(exit_status, status, "exit status; stderr:\n" + session.stderr()[-3000:])
        self.assertEqual(session.left_behind(), [])


def window_properties(session):
    """What xprop says of the game's window: its name, class and icon."""
    return session._x("xprop", "-id", session.window(), "WM_NAME", "WM_CLASS", "WM_HINTS",
                      "_NET_WM_ICON")


def icon_property():
    """Where xprop shows a window's icon: SDL2 under sdl12-compat sets
    _NET_WM_ICON, classic SDL 1.2 an icon bitmap in WM_HINTS."""
    return "_NET_WM_ICON(CARDINAL)" if e2e.sdl12_compat() else "bitmap id # to use for icon"


# Where sdl12-compat differs: SDL2 reads a WAV file cut in half up to its last
# whole block, so the sound loads and a one-player match starts as usual.


def run():
    """Runs the scenarios of the calling file that the command line names."""
    unittest.main(module="__main__", argv=[sys.argv[0]] + _UNITTEST_ARGUMENTS, verbosity=2)
