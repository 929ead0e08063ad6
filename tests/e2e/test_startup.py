#!/usr/bin/env python3
"""Start-up end to end: failures of devices, display and assets, every asset
damaged, and the first menu left at once.

Run through CTest (tests/CMakeLists.txt); see game_test.py for the command line.
"""

import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import game_test  # noqa: E402

game_test.configure()
from game_test import *  # noqa: E402,F401,F403


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
        # A bad command line: its line and the usage on standard error, status 2.
        with self.game([GAME, "--bogus"]) as session:
            self.assertRun(session.start(), [], 2)
            self.assertEqual(session.stderr().split("\n")[0], "korrin-tavrel: unknown option --bogus")

    def test_no_display_is_said_at_once(self):
        """No video driver named and no display to reach, where SDL would fall
        back to text mode (classic) or offscreen (sdl12-compat): one line,
        status 1, within a second of the game's own time (a busy machine's
        wait for a processor left out: the game waits on nothing). A dead
        display is seen once SDL has started; the text-mode driver's terminal
        codes come before the line."""
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
                printed, status, took = session.run_timed(timeout=5)
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


if __name__ == "__main__":
    run()
