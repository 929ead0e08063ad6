#!/usr/bin/env python3
"""End-to-end tests: the real korrin-tavrel, real key presses, every line of
standard output and the exit status compared exactly, and the screen checked
pixel by pixel against the game's own images.

  test_game.py --game build/korrin-tavrel --assets . --mixer-version 1.2.12 \
      [--keep DIR] [--build DIR] [unittest arguments, e.g. Menu.test_leave_from_first_menu]

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


class StartUpFailures(GameTest):
    def test_missing_devices_and_assets(self):
        no_audio = [VERSION_LINE, "Mix_OpenAudio error: No available audio device",
                    "Error during sound init.", INIT_FAILED]
        # SDL2 names the driver it could not start, and sdl12-compat starts
        # the audio driver named in SDL_Init, before SDL_mixer opens it.
        compat_failed = lambda error: ["Couldn't initialize SDL: " + error, INIT_FAILED]
        # what, session options, lines on classic SDL 1.2, lines on
        # sdl12-compat; each ends with status 1
        cases = [
            ("nothing in the working directory", {"assets": None},
             [VERSION_LINE, FONT_MISSING, INIT_FAILED], None),
            # The disk driver with no delay keeps the audio thread busy: on
            # sdl12-compat a process that ends with the device open then
            # dies of SIGSEGV nearly every time.
            ("nothing in the working directory, audio busy",
             {"assets": None, "env": {"SDL_DISKAUDIODELAY": "0"}},
             [VERSION_LINE, FONT_MISSING, INIT_FAILED], None),
            ("data folder named by a launcher not there", {"env": {"KORRIN_DATA_DIR": "/no"}},
             [], None),
            ("X11 driver and no display", {"display": False, "env": {"SDL_VIDEODRIVER": "x11"}},
             NO_VIDEO_DEVICE, compat_failed("x11 not available")),
            ("unknown video driver", {"display": False, "env": {"SDL_VIDEODRIVER": "bogus"}},
             NO_VIDEO_DEVICE, compat_failed("bogus not available")),
            ("audio driver left to SDL and no sound card", {"env": {"SDL_AUDIODRIVER": None}},
             no_audio, [VERSION_LINE, "Mix_OpenAudio error: ALSA: Couldn't open audio device: "
                        "No such file or directory"] + no_audio[2:]),
            ("unknown audio driver", {"env": {"SDL_AUDIODRIVER": "bogus"}},
             no_audio, compat_failed("Audio target 'bogus' not available")),
        ]
        for what, options, classic_lines, compat_lines in cases:
            lines = compat_lines if e2e.sdl12_compat() and compat_lines else classic_lines
            with self.subTest(what), self.game(**options) as session:
                if what.endswith("no sound card") and os.path.exists("/dev/snd"):
                    self.skipTest("this machine has a sound card")
                session.start()
                self.assertRun(session, lines, 1)

    def test_no_display_is_said_at_once(self):
        """No video driver named and no display to reach, where SDL would fall
        back to text mode (classic) or offscreen (sdl12-compat): one line,
        status 1, within a second. A dead display is seen once SDL has
        started; the text-mode driver's terminal codes come before the line."""
        dead_display = next(":%d" % n for n in itertools.count(4000)
                            if not os.path.exists("/tmp/.X11-unix/X%d" % n))
        fallback = "offscreen" if e2e.sdl12_compat() else "caca"
        # what, environment, why no display was found
        cases = [
            ("no display named", {"WAYLAND_DISPLAY": None, "TERM": "xterm"},
             "DISPLAY and WAYLAND_DISPLAY are not set"),
            ("a display that does not answer", {"DISPLAY": dead_display, "TERM": "xterm"},
             "SDL fell back to its %s driver" % fallback),
        ]
        for what, env, why in cases:
            with self.subTest(what), self.game(display=False, env=env) as session:
                started = time.monotonic()
                printed, status = session.run(timeout=5)
                took = time.monotonic() - started
                printed[:1] = [line[line.find("Couldn't"):] for line in printed[:1]]
                self.assertEqual((printed, status),
                                 (["Couldn't initialize SDL: no display found (%s)" % why,
                                   INIT_FAILED], 1), session.stderr()[-3000:])
                self.assertLess(took, 1.0)
                self.assertEqual(session.left_behind(), [])


class Menu(GameTest):
    def test_leave_from_first_menu(self):
        with self.game() as session:
            session.open_menu(shows_menu)  # also: the menu is drawn, entry 0 lit
            session.leave_from_fresh_menu(shows_menu)
            self.assertRun(session, expected_lines(1), 0)


CORRUPTIONS = ("missing", "empty", "truncated", "random")


def damaged(name, corruption):
    """Session options for an asset missing, empty, cut in the middle, or
    replaced by as many random bytes (seeded by its name)."""
    if corruption == "missing":
        return {"without": [name]}
    with open(os.path.join(ASSETS, name), "rb") as f:
        data = f.read()
    return {"files": {name: {"empty": b"",
                             "truncated": data[:len(data) // 2],
                             "random": random.Random(name).randbytes(len(data))}[corruption]}}


def shows_match_without_scores(image):
    """A one-player match at its start (player 1's paddle in place) with no
    score text: the field's own pixels where the scores go."""
    return (paddle_at(0, PADDLE_START_Y)(image)
            and not differing(image, asset("img/game.png"), *SCORE_TEXTS))


def sounds_aborted(error):
    return ["Mix_LoadWAV error occurred: " + error, "Error loading sounds. Aborting."]


# Each asset: where the game loads it, and for each damage the lines it then
# prints; a function instead means that the file still loads, and a one-player
# match starts and shows what the function accepts.
BAD_ASSETS = {
    "img/hyperfont.ttf": ("start-up", {
        "missing": [FONT_MISSING],
        "empty": [FONT_UNREADABLE],
        # FreeType opens the first half of the font, but no digit can be
        # rendered from it: the match draws no score texts.
        "truncated": shows_match_without_scores,
        "random": [FONT_UNREADABLE]}),
    "img/menu.png": ("menu", dict.fromkeys(CORRUPTIONS, [PNG_MISSING])),
    "img/menu-opts.png": ("menu", dict.fromkeys(CORRUPTIONS, [PNG_MISSING])),
    "snd/menu-opt.wav": ("menu", dict.fromkeys(CORRUPTIONS,
                                               ["Unable to load a necessary sound file."])),
    "img/game.png": ("match", dict.fromkeys(CORRUPTIONS, IMAGES_ABORTED)),
    "img/game-sprites.png": ("match", dict.fromkeys(CORRUPTIONS, IMAGES_ABORTED)),
    "snd/bounce.wav": ("match", {
        "missing": sounds_aborted("Mix_LoadWAV_RW with NULL src"),
        "empty": sounds_aborted("Unrecognized sound file type"),
        "truncated": sounds_aborted("Error reading from datastream"),
        "random": sounds_aborted("Unrecognized sound file type")}),
    # No icon is no error: the window has none, and nothing more is printed.
    "img/icon.png": ("window", dict.fromkeys(CORRUPTIONS, [])),
}


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
BAD_ASSETS_ON_SDL12_COMPAT = {
    ("snd/menu-opt.wav", "truncated"): paddle_at(0, PADDLE_START_Y),
    ("snd/bounce.wav", "truncated"): paddle_at(0, PADDLE_START_Y),
}


def gradient(width, height):
    """An opaque image whose every pixel tells where it lies."""
    return e2e.Image(width, height, [[(x * 12, y * 12, 160, 255) for x in range(width)]
                                     for y in range(height)])


class BadAssets(GameTest):
    """Every asset missing, empty, truncated and random: exact lines and
    status, never a crash or a hang."""

    def check(self, name):
        phase, outcomes = BAD_ASSETS[name]
        for corruption in CORRUPTIONS:
            outcome = outcomes[corruption]
            if e2e.sdl12_compat():
                outcome = BAD_ASSETS_ON_SDL12_COMPAT.get((name, corruption), outcome)
            with self.subTest(corruption=corruption), \
                    self.game(**damaged(name, corruption)) as session:
                if callable(outcome):
                    session.open_menu(shows_menu)
                    session.press("Return")  # 1 PLAYER
                    session.wait_for_screen(outcome, "the match")
                    session.press("Escape")
                    session.leave_from_fresh_menu(shows_menu, 2)
                    self.assertRun(session, expected_lines(2), 0)
                elif phase == "start-up":
                    session.start()
                    self.assertRun(session, [VERSION_LINE] + outcome + [INIT_FAILED], 1)
                elif phase == "window":
                    session.open_menu(shows_menu)
                    self.assertNotIn(icon_property(), window_properties(session))
                    session.leave_from_fresh_menu(shows_menu)
                    self.assertRun(session, expected_lines(1), 0)
                elif phase == "menu":
                    session.start()
                    self.assertRun(session, [VERSION_LINE, SHOWING_MENU] + outcome + CLOSING, 0)
                else:
                    session.open_menu(shows_menu)
                    session.press("Return")  # 1 PLAYER
                    self.assertRun(session,
                                   [VERSION_LINE, SHOWING_MENU, EXITING_MENU] + outcome, 1)

    def test_font(self):
        self.check("img/hyperfont.ttf")

    def test_window_icon(self):
        self.check("img/icon.png")

    def test_menu_background(self):
        self.check("img/menu.png")

    def test_menu_highlights(self):
        self.check("img/menu-opts.png")

    def test_menu_sound(self):
        self.check("snd/menu-opt.wav")

    def test_match_background(self):
        self.check("img/game.png")

    def test_sprite_sheet(self):
        self.check("img/game-sprites.png")

    def test_bounce_sound(self):
        self.check("snd/bounce.wav")

    def test_images_smaller_than_their_regions(self):
        """A 16x16 sprite sheet and 20x10 highlights: blits cut what lies
        outside them, and the menu and a match run and end normally."""
        sheet, highlights = gradient(16, 16), gradient(20, 10)
        # Entry 0's band: only the image's 10 rows.
        shows_cut_menu = functools.partial(shows_menu, highlights=highlights)
        # Entry 1's band starts below the highlights: the background alone.
        menu_at_entry_1 = asset("img/menu.png")
        # Of the sheet's regions only the left paddle's top-left 11x15 pixels
        # lie in it: the right paddle (from column 25), the balls (row 114)
        # and the banners (from row 127) are cut away whole. In a two-player
        # match with no key down nothing visible moves.
        field = copy_of(asset("img/game.png"))
        e2e.draw(field, sheet, LEFT_PADDLE_SPRITE, LEFT_PADDLE_X, PADDLE_START_Y)
        rows = SCORE_TEXTS[3]
        below_scores = (0, rows, e2e.SCREEN_WIDTH, e2e.SCREEN_HEIGHT - rows)

        files = {"img/game-sprites.png": e2e.png_bytes(sheet),
                 "img/menu-opts.png": e2e.png_bytes(highlights)}
        with self.game(files=files) as session:
            session.open_menu(shows_cut_menu)
            session.press("Down")
            session.wait_for_screen(lambda image: not differing(image, menu_at_entry_1),
                                    "the menu with entry 1 chosen")
            session.press("Return")  # 2 PLAYERS
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(lambda image: not differing(image, field, *below_scores),
                                    "the field and the cut left paddle")
            session.press("Escape")
            session.leave_from_fresh_menu(shows_cut_menu, 2)
            self.assertRun(session, expected_lines(2), 0)


class Match(GameTest):
    def test_one_player_match_played_to_the_end(self):
        with self.game() as session:
            session.open_menu(shows_menu)
            session.press("Return")  # 1 PLAYER; player 1 stays idle
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(paddle_at(0, PADDLE_START_Y), "the match")

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
            session.leave_from_fresh_menu(shows_menu, 2)
            self.assertRun(session, expected_lines(2), 0)

    def test_two_player_match_left_with_escape(self):
        with self.game() as session:
            session.open_menu(shows_menu)
            session.press("Down")
            session.press("Return")  # 2 PLAYERS
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(paddle_at(1, PADDLE_START_Y), "player 2's paddle")

            # Player 2 steers: Space moves the right paddle up to its bound.
            session.key_down("space")
            session.wait_for_screen(paddle_at(1, PADDLE_TOP_Y),
                                    "player 2's paddle at the top", timeout=5)
            session.key_up("space")

            escaped_at = time.monotonic()
            session.press("Escape")
            # No game-over screen: the menu is back at once, not after 5 s.
            session.wait_for_line(SHOWING_MENU, 2, timeout=3)
            self.assertLess(time.monotonic() - escaped_at, 3.0)
            session.leave_from_fresh_menu(shows_menu, 2)
            self.assertRun(session, expected_lines(2), 0)

    def test_player_one_steers_to_the_bounds(self):
        with self.game() as session:
            session.open_menu(shows_menu)
            session.press("Return")  # 1 PLAYER
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(paddle_at(0, PADDLE_START_Y), "player 1's paddle at the start")

            for key, bound in (("Down", PADDLE_BOTTOM_Y), ("Up", PADDLE_TOP_Y)):
                session.key_down(key)
                # The ball may cover the paddle in a screenshot: look again.
                session.wait_for_screen(paddle_at(0, bound),
                                        "player 1's paddle at row %d" % bound, timeout=5)
                session.key_up(key)

            session.press("Escape")
            session.leave_from_fresh_menu(shows_menu, 2)
            self.assertRun(session, expected_lines(2), 0)

    def test_match_recorded_with_keys_replays_the_same_pictures_and_lines(self):
        """A two-player match played with keys and recorded (--record), then
        shown again (--replay): while the ball waits in the centre with no key
        held the picture stands still; each such picture of the match must
        come back, in turn, in the replay, which ends with the same lines."""
        def standing(session, unlike=None):
            """The next picture that stays the same for a fifth of a second
            (only the ball's waits do) and differs from `unlike`."""
            previous = None
            for _ in range(200):
                shot = session.screenshot()
                if previous is not None and not differing(shot, previous) and (
                        unlike is None or differing(shot, unlike)):
                    return shot
                previous = shot
                time.sleep(0.2)
            raise AssertionError("no standing picture (last: %s)" % session.last_screenshot)

        with self.game([GAME, "--record", "match.krp"], assets=ASSETS) as session:
            session.open_menu(shows_menu)
            session.press("Down")
            session.press("Return")  # 2 PLAYERS
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(paddle_at(1, PADDLE_START_Y), "the match")
            # The first wait, with player 1 moved up; then each wait after a
            # point, with the paddles moved apart before it.
            session.press("Up", hold=0.3)
            pictures = [standing(session)]
            for key in ("Alt_L", "Down"):
                session.press(key, hold=0.3)
                pictures.append(standing(session, unlike=pictures[-1]))
            session.press("Escape")
            session.leave_from_fresh_menu(shows_menu, 2)
            self.assertRun(session, expected_lines(2), 0)
            with open(os.path.join(session.workdir, "match.krp"), "rb") as f:
                recording = f.read()

        with self.game([GAME, "--replay", "match.krp"], assets=ASSETS,
                       files={"match.krp": recording}) as session:
            session.start()
            for i, picture in enumerate(pictures):
                session.wait_for_screen(lambda shot: not differing(shot, picture),
                                        "standing picture %d of the match" % i, timeout=30,
                                        interval=0.1)
            self.assertRun(session, [VERSION_LINE] + CLOSING, 0, timeout=30)


    def test_pad_plays_and_the_match_holds(self):
        """Under a window manager: the pad's d-pad and stick move the menu's
        highlight and its A chooses 1 PLAYER; the stick and the d-pad steer
        player 1; P holds the match (the picture stands still under the
        PAUSED banner) and takes it off hold; the window losing the focus
        holds it, and it stays on hold once the focus is back, until the
        pad's Start; the pad's Back leaves."""
        def menu_entry(entry):
            return lambda image: not differing(image, menu_screen(entry=entry))

        def on_hold(image):
            return shows_banner(image, HOLD_BANNER, HOLD_BANNER_AT)

        with self.game(pad_shim=PAD_SHIM) as session, session.window_manager():
            session.open_menu(shows_menu)
            for axis, value, entry in ((PAD_DPAD_Y, PAD_FULL, 1), (PAD_STICK_Y, -PAD_FULL, 0)):
                session.pad_axis(axis, value)
                session.wait_for_screen(menu_entry(entry), "entry %d lit by the pad" % entry)
                session.pad_axis(axis, 0)
                time.sleep(e2e.KEY_HOLD_S)  # the menu moves again only once all is let go
            session.pad_press(PAD_A)  # 1 PLAYER
            session.wait_for_line(EXITING_MENU)
            session.wait_for_screen(paddle_at(0, PADDLE_START_Y), "the match")
            for axis, value, bound in ((PAD_STICK_Y, PAD_FULL, PADDLE_BOTTOM_Y),
                                       (PAD_DPAD_Y, -PAD_FULL, PADDLE_TOP_Y)):
                session.pad_axis(axis, value)
                session.wait_for_screen(paddle_at(0, bound), "the pad's paddle at row %d" % bound)
                session.pad_axis(axis, 0)

            # Held in play, the ball and the computer's paddle would move.
            session.wait_for_screen(lambda image: not shows_banner(image, READY_BANNER,
                                                                   READY_BANNER_AT),
                                    "the ball in play")
            def held_still(what):
                still = session.wait_for_screen(on_hold, "the match held " + what)
                time.sleep(1.0)
                self.assertEqual(differing(session.screenshot(), still), [],
                                 "the picture moved on hold (%s)" % session.last_screenshot)

            def off_hold():
                session.wait_for_screen(lambda image: not on_hold(image), "the match off hold")

            session.press("p")
            held_still("by P")
            session.press("p")
            off_hold()
            with session.other_window():
                session.wait_for_screen(on_hold, "the match held by the focus lost")
            session.focus()
            held_still("with the focus back")
            session.pad_press(PAD_START)
            off_hold()

            session.pad_press(PAD_BACK)
            session.leave_from_fresh_menu(shows_menu, 2)
            self.assertRun(session, expected_lines(2), 0)


# How a player asks the game to close: the window's close button, Ctrl+C in
# its terminal, SIGTERM at logout. The game must have said its last line
# within a second.
CLOSE_REQUESTS = {
    "close button": e2e.Session.request_close,
    "SIGTERM": lambda session: os.kill(session.proc.pid, signal.SIGTERM),
    "SIGINT": lambda session: os.kill(session.proc.pid, signal.SIGINT),
}
CLOSED_WITHIN_S = 1.0


class Desktop(GameTest):
    def test_window_is_named_and_closes_from_every_screen(self):
        """Title, class and icon on the window, whatever the executable is
        called; the close button, SIGTERM and SIGINT end the game the normal
        way from the menu and from a match."""
        for how, where in itertools.product(CLOSE_REQUESTS, ("menu", "match")):
            with self.subTest(how=how, where=where), self.game() as session:
                renamed = os.path.join(session.workdir, "renamed-game")
                shutil.copy(GAME, renamed)
                session.command = [renamed]
                session.open_menu(shows_menu)
                properties = window_properties(session)
                self.assertRegex(properties, r'WM_NAME\(\w+\) = "Korrin Tavrel"')
                self.assertIn('WM_CLASS(STRING) = "korrin-tavrel", "korrin-tavrel"', properties)
                self.assertIn(icon_property(), properties)
                if where == "match":
                    session.press("Return")  # 1 PLAYER
                    session.wait_for_screen(paddle_at(0, PADDLE_START_Y), "the match")
                CLOSE_REQUESTS[how](session)
                session.wait_for_line(CLOSING[-1], timeout=CLOSED_WITHIN_S)
                self.assertRun(session, expected_lines(1), 0)

    def test_window_is_scaled_whole_and_crisp_and_f11_fills_the_screen(self):
        """Started as tools/play.sh starts it, on sdl12-compat: the largest
        whole scale of 320x240 within 80 % of the desktop, every game pixel a
        square of the scale's size (Session.screenshot reduces the window and
        fails otherwise); under a window manager F11 covers the screen and
        brings the window back."""
        if BUILD_DIR is None:
            self.skipTest("--build not given")
        launcher = os.path.join(BUILD_DIR, "play", "korrin-tavrel")
        # screen, window size, with a window manager and F11
        cases = [((1920, 1080), (960, 720), True), ((1280, 720), (640, 480), False)]
        for screen, size, fullscreen in cases:
            with self.subTest(screen=screen), \
                    self.game(command=[launcher], screen="%dx%dx24" % screen) as session, \
                    session.window_manager() if fullscreen else contextlib.nullcontext():
                session.start()
                session.wait_for_line(SHOWING_MENU)
                if not e2e.sdl12_compat(session.linked_sdl()):
                    self.skipTest("the launcher found no sdl12-compat on this machine")
                self.assertEqual(session.window_size(), size)
                session.focus()
                session.wait_for_screen(shows_menu, "the menu, in whole squares")
                for key_presses, expected_size in ((1, screen), (2, size)) if fullscreen else ():
                    session.press("F11")
                    deadline = time.monotonic() + 5
                    while session.window_size() != expected_size and time.monotonic() < deadline:
                        time.sleep(0.1)
                    self.assertEqual(session.window_size(), expected_size,
                                     "after F11 pressed %d time(s)" % key_presses)
                session.leave_from_fresh_menu(shows_menu)
                self.assertRun(session, expected_lines(1), 0)


class Install(GameTest):
    def test_installed_launcher_runs_from_anywhere(self):
        if BUILD_DIR is None:
            self.skipTest("--build not given")
        with tempfile.TemporaryDirectory(prefix="korrin-prefix-") as prefix:
            subprocess.run([CMAKE, "--install", BUILD_DIR, "--prefix", prefix], check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=60)
            # Found on the PATH and started in an empty directory: the game
            # must find its data folder, or no image would load, and a file
            # name on the command line must mean that directory. A match left
            # at once is recorded, then verified and replayed where it is.
            env = {"PATH": os.path.join(prefix, "bin") + os.pathsep + os.environ.get("PATH", "")}
            with self.game(command=["korrin-tavrel", "--record", "m.krp"], env=env) as session:
                session.open_menu(shows_menu)
                session.press("Return")
                session.wait_for_line(EXITING_MENU)
                session.press("Escape")
                session.leave_from_fresh_menu(shows_menu, 2)
                self.assertRun(session, expected_lines(2), 0)
                with open(os.path.join(session.workdir, "m.krp"), "rb") as f:
                    recording = f.read()
            for option, last_line in (("--verify", "end state as recorded"),
                                      ("--replay", CLOSING[-1])):
                with self.game(command=["korrin-tavrel", option, "m.krp"], env=env,
                               files={"m.krp": recording}) as session:
                    printed, status = session.run(timeout=30)
                    self.assertEqual(status, 0, session.stderr()[-3000:])
                    self.assertTrue(printed[-1].endswith(last_line), printed)

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


SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "valgrind.supp")
LOST = ("Leak_DefinitelyLost", "Leak_IndirectlyLost", "Leak_PossiblyLost")


class Leaks(GameTest):
    """The game under valgrind's memcheck, many times slower (on sdl12-compat
    a pass of its loops can outlast any fixed key press): every key is held
    until the game is seen to have acted on it, and screens are awaited longer."""

    WAIT = 60.0

    def hold_until(self, session, key, acted):
        session.key_down(key)
        try:
            acted()
        finally:
            session.key_up(key)

    def move_to(self, session, key, entry):
        self.hold_until(session, key, lambda: session.wait_for_screen(
            lambda image: not differing(image, menu_screen(entry=entry)),
            "entry %d highlighted" % entry, self.WAIT))

    def run_matches(self, matches):
        """The menu and `matches` two-player matches left with Escape, each
        followed by the menu again, then leave. Returns memcheck's findings."""
        with self.game() as session:
            report = os.path.join(session.workdir, "memcheck.xml")
            session.open_menu(shows_menu, e2e.memcheck(report, SUPPRESSIONS), self.WAIT)
            for visit in range(1, matches + 1):
                session.wait_for_menu(shows_menu, visit, self.WAIT)
                self.move_to(session, "Down", 1)
                self.hold_until(session, "Return",  # 2 PLAYERS
                                lambda: session.wait_for_line(EXITING_MENU, visit, self.WAIT))
                session.wait_for_screen(paddle_at(1, PADDLE_START_Y), "the match", self.WAIT)
                self.hold_until(session, "Escape",
                                lambda: session.wait_for_line(SHOWING_MENU, visit + 1, self.WAIT))
            session.wait_for_menu(shows_menu, matches + 1, self.WAIT)
            self.move_to(session, "Up", 2)
            self.hold_until(session, "Return",  # QUIT
                            lambda: session.wait_for_line(EXITING_MENU, matches + 1, self.WAIT))
            self.assertRun(session, expected_lines(matches + 1), 0, timeout=self.WAIT)
            return e2e.read_memcheck(report) + (os.path.realpath(session.command[0]),)

    def test_no_memory_lost_through_the_game(self):
        lost = {}
        for matches in (1, 2):
            errors, suppressed, game = self.run_matches(matches)
            # Any memory error, and any block definitely lost, whose stack
            # passes through the game's own code.
            faults = [error for error in errors if error.passes_through(game)
                      and (error.kind == "Leak_DefinitelyLost" or not error.kind.startswith("Leak_"))]
            self.assertEqual(faults, [], "with %d match(es)" % matches)
            lost[matches] = {kind: sum(e.bytes for e in errors if e.kind == kind) for kind in LOST}
            print("memcheck, %d match(es): bytes lost %r, suppressions used %r"
                  % (matches, lost[matches], suppressed), file=sys.stderr)
        self.assertEqual(lost[2], lost[1], "the bytes lost grow with the number of matches")


# The online match: both games on this machine, each under its own X server,
# the joining one through the test's relay to the host.
MATCH_STARTS = {"host": "A player joined: the match starts.", "join": "Joined: the match starts."}
CONNECTION_LOST = "Connection to the other player lost."
OTHER_LEFT = "The other player left the match."
RECORDING = "online.krp"
WAITING_BANNER = (1, 157, 300, 27)
JOINING_BANNER = (1, 185, 300, 27)
BANNER_AT = (10, 106)
# Each side steers with its own rhythm, so that the other's guesses go wrong.
STEERING = {"host": (("Up", 0.7), ("Down", 0.9)), "join": (("Down", 0.5), ("Up", 1.1))}


def banner_screen(banner):
    screen = copy_of(asset("img/game.png"))
    e2e.draw(screen, asset("img/game-sprites.png"), banner, *BANNER_AT)
    return screen


def ends_with_start(data):
    """The datagram ends with ENet's reliable command (0x86, channel,
    sequence, length 7 big-endian) and a Start: type 2, seed, players, ball."""
    return len(data) >= 13 and data[-13] == 0x86 and data[-9:-7] == b"\x00\x07" \
        and data[-7] == 2


def online_stats(session):
    """The figures the game writes on stderr after an online match."""
    for line in session.stderr().splitlines():
        if line.startswith("korrin-tavrel: online: "):
            words = line.replace(",", "").replace("(", "").split()
            return {"frames": int(words[2]), "rollbacks": int(words[4]),
                    "bad packets": int(words[-3])}
    raise AssertionError("no figures on stderr:\n" + session.stderr()[-2000:])


class Steering(threading.Thread):
    """Holds one side's keys in turn until stopped."""

    def __init__(self, session, rhythm):
        super().__init__(daemon=True)
        self.session, self.rhythm, self.stop = session, rhythm, threading.Event()

    def run(self):
        for key, hold in itertools.cycle(self.rhythm):
            self.session.key_down(key)
            self.stop.wait(hold)
            self.session.key_up(key)
            if self.stop.is_set():
                return


class Online(GameTest):
    @contextlib.contextmanager
    def pair(self, delay_ms=0, jitter_ms=0, loss=0.0, rewrite=None, record=(), strays=0):
        """A host on a free port and a game joining it through a relay;
        `record` adds --record RECORDING to both; `strays` bare ENet CONNECT
        datagrams reach the host first."""
        record = list(record)
        with self.game(command=[os.path.abspath(GAME), "--host", "0"] + record,
                       assets=ASSETS) as host:
            host.start()
            port = self.listening_port(host)
            self.send_strays(port, strays)
            with relay.Relay(port, delay_ms, jitter_ms, loss, rewrite) as link, \
                    self.game(command=[os.path.abspath(GAME), "--join",
                                       "127.0.0.1:%d" % link.port] + record,
                              assets=ASSETS) as joiner:
                joiner.start()
                yield host, joiner, link

    def listening_port(self, host):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            for line in host.lines:
                if line.startswith("Waiting for a player on port "):
                    return int(line.rsplit(" ", 1)[1].rstrip("."))
            time.sleep(0.05)
        raise AssertionError("the host did not say its port: %r" % host.lines)

    def opening(self, host, joiner, link):
        return ({"host": [VERSION_LINE, "Waiting for a player on port %d." % link.host[1]],
                 "join": [VERSION_LINE, "Joining 127.0.0.1:%d." % link.port]})

    def play_whole_match(self, delay_ms, jitter_ms, loss, noise=False, outage_s=0.0):
        """`noise`: two strays first, then noise and a third game; `outage_s` 3 s in."""
        silent_until = [0.0]
        with self.pair(delay_ms, jitter_ms, loss, record=("--record", RECORDING),
                       strays=2 if noise else 0,
                       rewrite=lambda data, way: None if time.monotonic() < silent_until[0]
                       else data) as (host, joiner, link):
            sides = {"host": host, "join": joiner}
            joiner.wait_for_line(self.opening(host, joiner, link)["join"][1], timeout=15)
            joining = time.monotonic()
            for name, session in sides.items():
                session.wait_for_line(MATCH_STARTS[name], timeout=15)
                session.focus()
            if noise:
                self.assertLess(time.monotonic() - joining, 2.0, "joined late past the strays")
            steering = [Steering(session, STEERING[name]) for name, session in sides.items()]
            for thread in steering:
                thread.start()
            if noise:
                self.send_noise(link.host[1])
                self.knock_in_vain(link.host[1])
            if outage_s:
                time.sleep(3)
                silent_until[0] = time.monotonic() + outage_s
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

    def test_match_at_0_ms_with_random_datagrams_and_a_third_player(self):
        host, joiner = self.play_whole_match(0, 0, 0.0, noise=True)
        self.assertEqual((host["bad packets"], joiner["bad packets"]), (0, 0))

    def test_match_at_50_ms_with_jitter_and_loss(self):
        host, joiner = self.play_whole_match(50, 10, 0.05, outage_s=2.9)
        self.assertGreater(host["rollbacks"] + joiner["rollbacks"], 0)

    def test_match_at_125_ms_with_jitter_and_loss(self):
        host, joiner = self.play_whole_match(125, 10, 0.05)
        self.assertGreater(host["rollbacks"] + joiner["rollbacks"], 0)

    def test_killed_peer_is_noticed_within_4_s(self):
        with self.pair(50, 10, 0.05) as (host, joiner, link):
            for name, session in (("host", host), ("join", joiner)):
                session.wait_for_line(MATCH_STARTS[name], timeout=15)
            time.sleep(2)
            joiner.proc.kill()
            killed_at = time.monotonic()
            host.wait_for_line(CONNECTION_LOST, timeout=6)
            self.assertLess(time.monotonic() - killed_at, 4.0)
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
        hello = b"KTAV\x03\x00" + bytes([len(version)])
        with self.pair(rewrite=lambda data, way: data.replace(hello + version, hello + other)) \
                as (host, joiner, link):
            line = ("Version mismatch: this game is %s (protocol 3), the other is %s (protocol 3)."
                    % (version.decode(), other.decode()))
            opening = self.opening(host, joiner, link)
            self.assertRun(host, opening["host"] + [line, CLOSING[0]], 1)
            self.assertRun(joiner, opening["join"] + [line, CLOSING[0]], 1)

    def test_lost_sync_is_said_on_both_sides(self):
        """The relay changes the seed in the host's Start (the first hashes, of
        frame 44, differ) or one of the host's inputs (the inputs' checks differ)."""
        def other_seed(data, way):
            if way == "to joiner" and ends_with_start(data):
                return data[:-6] + bytes([data[-6] ^ 1]) + data[-5:]
            return data

        def other_input(data, way):
            # ENet's unreliable command (7), an Inputs packet (3, six numbers, a hash, n,
            # n inputs): the last input sent after frames 100 to 104 gets Up 1 flipped.
            for n in range(1, 65):
                if way == "to joiner" and len(data) > n + 42 and data[-n - 1] == n \
                        and data[-n - 34] == 3 and data[-n - 42] == 7 \
                        and 100 < struct.unpack("<I", data[-n - 33:-n - 29])[0] <= 104:
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
            port = self.listening_port(host)
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



def main():
    global GAME, ASSETS, KEEP_DIR, BUILD_DIR, CMAKE, PAD_SHIM, VERSION_LINE
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--game", required=True, help="the korrin-tavrel executable")
    parser.add_argument("--assets", required=True, help="the directory holding img/ and snd/")
    parser.add_argument("--mixer-version", required=True,
                        help="the SDL_mixer version the game was built with")
    parser.add_argument("--keep", help="where a failing test keeps its screenshots")
    parser.add_argument("--build", help="the build directory to install from")
    parser.add_argument("--cmake", default="cmake", help="the cmake program")
    parser.add_argument("--pad-shim", help="the built tests/e2e/pad_shim.c")
    options, rest = parser.parse_known_args()
    GAME, ASSETS, KEEP_DIR = options.game, options.assets, options.keep
    BUILD_DIR, CMAKE, PAD_SHIM = options.build, options.cmake, options.pad_shim
    VERSION_LINE = "Compiled with SDL_mixer version: " + options.mixer_version
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
