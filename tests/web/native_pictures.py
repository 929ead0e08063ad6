#!/usr/bin/env python3
"""The pictures the web build must draw, from the native game: the menu as it
opens (composed from the game's own images, as the end-to-end tests do) and
the first picture of a two-player match (a screenshot of the native game
under Xvfb, chosen with Down and Return): field, paddles, ball, "GET READY"
and both scores drawn by SDL_ttf.

  native_pictures.py --game build/korrin-tavrel --assets . OUT_DIR

writes OUT_DIR/menu.rgb and OUT_DIR/match.rgb, 320x240 RGB bytes each.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
E2E_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e")
sys.path.insert(0, E2E_DIR)
import e2e  # noqa: E402
import game_test  # noqa: E402


def rgb_bytes(image):
    return bytes(channel for row in image.rows for pixel in row for channel in pixel[:3])


def native_match_start(game, assets):
    with e2e.Session(game, assets) as session:
        session.open_menu(game_test.shows_menu)
        session.press("Down")
        session.press("Return")
        session.wait_for_line(game_test.EXITING_MENU)
        # Both paddles where a match starts: the match is on the screen, and
        # the ball waits in the middle for the first serve's 3 s.
        on_screen = session.wait_for_screen(
            lambda image: (game_test.paddle_at(0, game_test.PADDLE_START_Y)(image)
                           and game_test.paddle_at(1, game_test.PADDLE_START_Y)(image)),
            "a match's first picture")
        session.press("Escape")
        session.leave_from_fresh_menu(game_test.shows_menu, 2)
        session.finish(check=True)
        return on_screen


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--game", required=True, help="the native korrin-tavrel")
    parser.add_argument("--assets", required=True, help="the directory holding img/ and snd/")
    parser.add_argument("out", help="where menu.rgb and match.rgb go")
    options = parser.parse_args()
    game_test.ASSETS = options.assets
    pictures = {
        "menu.rgb": game_test.menu_screen(),
        "match.rgb": native_match_start(options.game, options.assets),
    }
    for name, image in pictures.items():
        with open(os.path.join(options.out, name), "wb") as f:
            f.write(rgb_bytes(image))


if __name__ == "__main__":
    main()
