#!/usr/bin/env python3
"""Matches end to end: played to the end, left, steered, recorded and replayed,
with a pad and on hold; and no memory lost through a whole run.

Run through CTest (tests/CMakeLists.txt); see game_test.py for the command line.
"""

import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import game_test  # noqa: E402

game_test.configure()
from game_test import *  # noqa: E402,F401,F403


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
            # Left only after the serve, so that the replay shows the last
            # wait whole, not for the moment it took to see it here.
            session.wait_for_screen(lambda shot: differing(shot, pictures[-1]), "the serve")
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


if __name__ == "__main__":
    run()
