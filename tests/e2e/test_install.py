#!/usr/bin/env python3
"""The installed game: cmake --install into a prefix, the launcher run from
anywhere, and the desktop entry.

Run through CTest (tests/CMakeLists.txt); see game_test.py for the command line.
"""

import configparser
import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import game_test  # noqa: E402

game_test.configure()
from game_test import *  # noqa: E402,F401,F403


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
            groups = configparser.ConfigParser(interpolation=None)
            groups.optionxform = str  # keys keep their case
            groups.read_string("\n".join(lines))
            entry = groups["Desktop Entry"]
            self.assertEqual(entry["Type"], "Application")
            # The game's own links (a page's offer to open its room here) and
            # the action that hosts a room, each run by the installed launcher.
            self.assertEqual(entry["MimeType"], "x-scheme-handler/korrin-tavrel;")
            self.assertEqual(entry["Actions"], "host-room;")
            for group, arguments in (("Desktop Entry", ["%u"]),
                                     ("Desktop Action host-room", ["--host-room"])):
                command = groups[group]["Exec"].split()
                self.assertEqual(command[1:], arguments, group)
                self.assertTrue(os.access(os.path.join(prefix, "bin", command[0]), os.X_OK),
                                "Exec=%s is not the installed launcher" % command[0])
            icon = e2e.read_png(os.path.join(share, "icons", "hicolor", "64x64", "apps",
                                             entry["Icon"] + ".png"))
            self.assertEqual((icon.width, icon.height), (64, 64))


if __name__ == "__main__":
    run()
