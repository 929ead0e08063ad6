#!/usr/bin/env python3
"""Faults from outside the game, a scenario per row of FAULTS: what the game
prints, its status, how soon it ends, and what --verify says of its recording.

Run through CTest (tests/CMakeLists.txt); see game_test.py for the command line.
"""

import collections
import os
import re
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import game_test  # noqa: E402

game_test.configure()
from game_test import *  # noqa: E402,F401,F403


DISPLAY_LOST = "Lost the connection to the display."
ENDED_WITHIN_S = 1.0
CUT_OFF = (3, "cut off (the recording ends there)")  # --verify's status and verdict
VERIFIED = re.compile(r"Match 1: \d-\d after (\d+\.\d) s, (.*)\n")
# A game started ignoring SIGHUP (under nohup) plays on through it this long,
# until the player closes it (SIGTERM, as at logout: its end timed from there).
PLAYS_ON_S = 1.5


def hang_up_ignored(session):
    os.kill(session.proc.pid, signal.SIGHUP)
    time.sleep(PLAYS_ON_S)
    if session.proc.poll() is not None:
        raise AssertionError("the game ended on a SIGHUP it was started ignoring")
    os.kill(session.proc.pid, signal.SIGTERM)
    return time.monotonic()


# where: "menu", or seconds into a recorded two-player match; fault: done to
# the session there; lines, status: what the game prints after the lines
# before the fault, and its status, the game ended (or closing, its last
# line printed) within a second (of the time the fault returns, if any);
# verify: --verify's status, verdict and the least play kept, in seconds;
# wrapper: what the game is started under.
Fault = collections.namedtuple("Fault", "where fault lines status verify wrapper", defaults=[()])
FAULTS = {
    "x_server_stopped_at_the_menu": Fault(
        "menu", lambda session: session.xvfb.stop(), [DISPLAY_LOST], 1, None),
    # Saved to its last frame: its whole seconds alone would be 2.0 s.
    "x_server_stopped_mid_match": Fault(
        2.6, lambda session: session.xvfb.stop(), [DISPLAY_LOST], 1, CUT_OFF + (2.3,)),
    "terminal_closed_mid_match": Fault(
        2, lambda session: os.kill(session.proc.pid, signal.SIGHUP), CLOSING, 0,
        (0, "end state as recorded", 1.5)),
    "game_killed_after_6_s_of_a_match": Fault(
        6, lambda session: os.kill(session.proc.pid, signal.SIGKILL), [], -signal.SIGKILL,
        CUT_OFF + (5.0,)),
    "terminal_closed_mid_match_under_nohup": Fault(
        2, hang_up_ignored, CLOSING, 0, (0, "end state as recorded", 1.5 + PLAYS_ON_S),
        ("nohup",)),
}


class Faults(GameTest):
    def check_fault(self, row):
        with self.game([GAME, "--record", "match.krp"], assets=ASSETS) as session:
            session.open_menu(shows_menu, wrapper=row.wrapper)
            before = [VERSION_LINE, SHOWING_MENU]
            if row.where != "menu":
                session.press("Down")
                session.press("Return")  # 2 PLAYERS
                session.wait_for_line(EXITING_MENU)
                started = time.monotonic()
                session.wait_for_screen(paddle_at(1, PADDLE_START_Y), "the match")
                time.sleep(max(0.0, started + row.where - time.monotonic()))
                before.append(EXITING_MENU)
            faulted = time.monotonic()
            faulted = row.fault(session) or faulted
            if row.lines == CLOSING:  # a sanitized game's checks come after them
                session.wait_for_line(CLOSING[-1], timeout=5)
            else:
                session.proc.wait(timeout=5)
            self.assertLess(time.monotonic() - faulted, ENDED_WITHIN_S)
            self.assertRun(session, before + row.lines, row.status)
            if row.verify:
                verify = subprocess.run([GAME, "--verify", "match.krp"], cwd=session.workdir,
                                        stdout=subprocess.PIPE, timeout=10, text=True)
                seen = VERIFIED.fullmatch(verify.stdout)
                self.assertEqual((verify.returncode, seen and seen.group(2)), row.verify[:2],
                                 verify.stdout)
                self.assertGreaterEqual(float(seen.group(1)), row.verify[2])


for name, fault in FAULTS.items():
    setattr(Faults, "test_" + name, lambda self, row=fault: self.check_fault(row))


if __name__ == "__main__":
    run()
