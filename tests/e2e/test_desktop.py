#!/usr/bin/env python3
"""The window on the desktop: its name, class and icon, the close requests on
every screen, its scale and F11.

Run through CTest (tests/CMakeLists.txt); see game_test.py for the command line.
"""

import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import game_test  # noqa: E402

game_test.configure()
from game_test import *  # noqa: E402,F401,F403


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


if __name__ == "__main__":
    run()
