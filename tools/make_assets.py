#!/usr/bin/python3
"""Generate the artwork, font and sound effects of Korrin Tavrel.

Writes, relative to the repository root:

    img/game.png           the match field (320x240)
    img/game-sprites.png   paddles, balls, banners and the game-over tile (RGBA)
    img/menu.png           the menu background with the plain entries
    img/menu-opts.png      the highlighted menu entries (RGBA)
    img/hyperfont.ttf      a blocky TrueType font built from the pixel font below
    snd/bounce.wav         the ball bounce "tock"
    snd/menu-opt.wav       the menu cursor "blip"
    img/icon.png           the 32x32 window icon the game sets (RGBA)
    dist/icons/hicolor/NxN/apps/korrin-tavrel.png
                           the desktop icon at 16, 32, 48, 64, 128 and 256 px
                           (RGBA), one 16x16 picture enlarged pixel by pixel
    web/icons/icon-N.png   the web page's icon at 192 and 512 px, for a phone's
                           home screen (the page's manifest names them)

Everything is drawn or synthesised here; nothing is loaded from elsewhere.
The output is deterministic: running the script twice gives identical files.

Run from the repository root with Debian's Python (Pillow, numpy, fontTools):

    /usr/bin/python3 tools/make_assets.py [OUTPUT_ROOT]

OUTPUT_ROOT (default: the repository root) receives img/, snd/, dist/ and web/; the
test suite writes into a temporary folder and compares with the committed files.
"""

import math
import os
import sys
import wave

import numpy as np
from PIL import Image
from fontTools.fontBuilder import FontBuilder
from fontTools.misc.timeTools import timestampFromString
from fontTools.pens.ttGlyphPen import TTGlyphPen

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

SCREEN_W, SCREEN_H = 320, 240

# ---------------------------------------------------------------------------
# Field layout (img/game.png)
# ---------------------------------------------------------------------------
TOP_WALL_LAST_ROW = 11        # the ball bounces at y = 12
BOTTOM_WALL_FIRST_ROW = 229   # the ball's bottom edge stops at row 228
LEFT_PADDLE_COLS = (1, 11)    # inclusive, kept plain
RIGHT_PADDLE_COLS = (307, 317)
SCORE_AREA = (100, 0, 121, 19)  # x, y, w, h where black score digits go
SCORE_PLATE = (94, 0, 132, 22)  # the light plate drawn behind them
CENTRE_X = 159                # the centre line covers columns 159-160

# ---------------------------------------------------------------------------
# Sprite sheet layout (img/game-sprites.png): x, y, w, h
# ---------------------------------------------------------------------------
SHEET_W, SHEET_H = 400, 216
PADDLE_W, PADDLE_H = 11, 50
LEFT_PADDLE = (1, 1, PADDLE_W, PADDLE_H)
RIGHT_PADDLE = (25, 1, PADDLE_W, PADDLE_H)
BANNER_W, BANNER_H = 349, 27
GAME_OVER_BANNER = (49, 1, BANNER_W, BANNER_H)
P2_WINS_BANNER = (49, 30, BANNER_W, BANNER_H)
P1_WINS_BANNER = (49, 58, BANNER_W, BANNER_H)
GAME_OVER_SCREEN_X = -14      # where the game-over banner is blitted
WINS_SCREEN_X = 0             # where the winner banners are blitted
GAME_OVER_TILE = (23, 102, 11, 11)
BALL_SIZE = 12
BALLS = [(x, 114, BALL_SIZE, BALL_SIZE) for x in (1, 14, 27, 40)]
READY_BANNER = (1, 127, 139, 27)
SHORT_BANNER = (142, 127, 83, 27)
HOLD_BANNER = (227, 127, 119, 27)  # "PAUSED", over the field while the match is on hold
# The network match's banners, shown while a host waits and a player joins.
WAITING_BANNER = (1, 157, 300, 27)
JOINING_BANNER = (1, 185, 300, 27)

# ---------------------------------------------------------------------------
# Menu layout (img/menu.png and img/menu-opts.png)
# ---------------------------------------------------------------------------
MENU_ENTRY_W, MENU_ENTRY_H = 194, 16
MENU_ENTRIES = ["1 PLAYER", "2 PLAYERS", "QUIT"]
MENU_ENTRY_SCREEN = [(63, 78), (63, 111), (63, 144)]  # band's top-left on screen
MENU_OPTS_ROWS = [0, 33, 66]                          # band's top row in menu-opts
MENU_OPTS_W, MENU_OPTS_H = MENU_ENTRY_W, 82

# ---------------------------------------------------------------------------
# Font (img/hyperfont.ttf)
# ---------------------------------------------------------------------------
FONT_UPM = 1500
FONT_PIXEL = 200              # font units per glyph pixel: 2 px at 15 ppem
FONT_ASCENT_PX = 8            # 7 glyph rows plus one row of headroom
FONT_DESCENT_PX = 1
FONT_TIMESTAMP = timestampFromString("Mon Jan  6 12:00:00 2025")

# ---------------------------------------------------------------------------
# Sounds
# ---------------------------------------------------------------------------
SAMPLE_RATE = 44100
PEAK = 0.5                    # -6 dBFS

# ---------------------------------------------------------------------------
# Palette
# ---------------------------------------------------------------------------
INK = (20, 22, 34)
WHITE = (250, 248, 240)
FIELD = (226, 233, 214)
FIELD_ALT = (219, 228, 206)
FIELD_LINE = (190, 206, 184)
CENTRE_DASH = (146, 170, 150)
WALL = (66, 104, 112)
WALL_LIGHT = (104, 146, 152)
WALL_DARK = (40, 66, 76)
MORTAR = (50, 82, 92)
PLATE = (246, 242, 226)
PLATE_EDGE = (40, 66, 76)
BLUE = (52, 112, 222)
RED = (222, 78, 50)
GOLD = (246, 196, 64)
GOLD_DARK = (150, 98, 24)
NIGHT = (24, 28, 52)
NIGHT_LIGHT = (44, 52, 92)
PLUM = (60, 30, 64)

# ---------------------------------------------------------------------------
# The pixel font: 7 rows per glyph, 5 columns for letters and digits,
# narrower for punctuation.  '#' is a lit pixel.
# ---------------------------------------------------------------------------
GLYPH_ROWS = 7
PIXEL_FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "J": ["..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    "3": ["#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."],
    "4": ["...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."],
    "5": ["#####", "#....", "####.", "....#", "....#", "#...#", ".###."],
    "6": ["..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."],
    "7": ["#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."],
    "8": [".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."],
    "9": [".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."],
    " ": ["...", "...", "...", "...", "...", "...", "..."],
    ".": ["..", "..", "..", "..", "..", "##", "##"],
    ",": ["..", "..", "..", "..", "##", "##", "#."],
    ":": ["..", "##", "##", "..", "..", "##", "##"],
    "!": ["##", "##", "##", "##", "..", "##", "##"],
    "?": [".###.", "#...#", "....#", "..##.", "..#..", ".....", "..#.."],
    "'": ["#", "#", ".", ".", ".", ".", "."],
    "-": ["....", "....", "....", "####", "....", "....", "...."],
    "+": [".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."],
    "=": [".....", ".....", "#####", ".....", "#####", ".....", "....."],
    "/": ["....#", "....#", "...#.", "..#..", ".#...", "#....", "#...."],
    "(": ["..#", ".#.", "#..", "#..", "#..", ".#.", "..#"],
    ")": ["#..", ".#.", "..#", "..#", "..#", ".#.", "#.."],
    "<": ["...#", "..#.", ".#..", "#...", ".#..", "..#.", "...#"],
    ">": ["#...", ".#..", "..#.", "...#", "..#.", ".#..", "#..."],
}
GLYPH_NAMES = {
    " ": "space", ".": "period", ",": "comma", ":": "colon", "!": "exclam",
    "?": "question", "'": "quotesingle", "-": "hyphen", "+": "plus",
    "=": "equal", "/": "slash", "(": "parenleft", ")": "parenright",
    "<": "less", ">": "greater", "0": "zero", "1": "one", "2": "two",
    "3": "three", "4": "four", "5": "five", "6": "six", "7": "seven",
    "8": "eight", "9": "nine",
}
LETTER_GAP = 1  # blank columns between glyphs


def glyph_bitmap(ch):
    """The glyph of one character as a 7-row boolean array."""
    rows = PIXEL_FONT[ch]
    assert len(rows) == GLYPH_ROWS and len({len(r) for r in rows}) == 1, ch
    return np.array([[c == "#" for c in r] for r in rows], dtype=bool)


def text_mask(text, scale=1):
    """Render a string with the pixel font into a boolean mask."""
    bitmaps = [glyph_bitmap(ch) for ch in text.upper()]
    width = sum(b.shape[1] for b in bitmaps) + LETTER_GAP * (len(bitmaps) - 1)
    mask = np.zeros((GLYPH_ROWS, width), dtype=bool)
    x = 0
    for b in bitmaps:
        mask[:, x:x + b.shape[1]] = b
        x += b.shape[1] + LETTER_GAP
    return np.kron(mask, np.ones((scale, scale), dtype=bool))


def text_size(text, scale=1):
    h, w = text_mask(text, scale).shape
    return w, h


def dilate(mask):
    """Grow a mask by one pixel in all eight directions (the mask gets a
    one-pixel border so the grown edge is kept)."""
    m = np.pad(mask, 1)
    out = m.copy()
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            out |= np.roll(np.roll(m, dy, axis=0), dx, axis=1)
    return out


# ---------------------------------------------------------------------------
# Canvas helpers.  Canvases are numpy arrays (h, w, 4) of uint8, RGBA.
# ---------------------------------------------------------------------------
def new_canvas(w, h, colour=(0, 0, 0, 0)):
    c = np.zeros((h, w, 4), dtype=np.uint8)
    c[:, :] = rgba(colour)
    return c


def rgba(colour):
    return tuple(colour) + (255,) if len(colour) == 3 else tuple(colour)


def stamp(canvas, mask, x, y, colour):
    """Paint `colour` wherever `mask` is set, with the mask's top-left at x, y."""
    h, w = mask.shape
    region = canvas[y:y + h, x:x + w]
    assert region.shape[:2] == mask.shape, "stamp falls off the canvas"
    region[mask] = rgba(colour)


def fill(canvas, x, y, w, h, colour):
    canvas[y:y + h, x:x + w] = rgba(colour)


def frame(canvas, x, y, w, h, colour):
    fill(canvas, x, y, w, 1, colour)
    fill(canvas, x, y + h - 1, w, 1, colour)
    fill(canvas, x, y, 1, h, colour)
    fill(canvas, x + w - 1, y, 1, h, colour)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def draw_text(canvas, text, x, y, scale, colour, outline=None, shadow=None):
    """Draw text with its top-left glyph pixel at x, y.  An outline is one
    pixel around the letters; a shadow is the text offset one pixel down-right."""
    mask = text_mask(text, scale)
    if shadow is not None:
        stamp(canvas, mask, x + 1, y + 1, shadow)
    if outline is not None:
        stamp(canvas, dilate(mask), x - 1, y - 1, outline)
    stamp(canvas, mask, x, y, colour)


def draw_text_centred(canvas, text, left, top, w, h, scale, colour, **kw):
    tw, th = text_size(text, scale)
    x = left + (w - tw) // 2
    y = top + (h - th) // 2
    draw_text(canvas, text, x, y, scale, colour, **kw)
    return x, y


def save_png(canvas, path, alpha):
    mode = "RGBA" if alpha else "RGB"
    data = canvas if alpha else canvas[:, :, :3]
    Image.fromarray(np.ascontiguousarray(data), mode).save(path, optimize=True)


# ---------------------------------------------------------------------------
# img/game.png
# ---------------------------------------------------------------------------
def draw_wall(canvas, top, bottom, facing_down):
    """A stone wall with staggered bricks between rows top..bottom."""
    fill(canvas, 0, top, SCREEN_W, bottom - top + 1, WALL)
    course_h = 5
    for i, row in enumerate(range(top + 1, bottom, course_h + 1)):
        offset = 0 if i % 2 == 0 else 10
        brick_h = min(course_h, bottom - row)
        if row + course_h < bottom:
            fill(canvas, 0, row + course_h, SCREEN_W, 1, MORTAR)
        for x in range(offset - 20, SCREEN_W, 20):
            fill(canvas, max(x, 0), row, 1, brick_h, MORTAR)
            if 0 <= x + 1 < SCREEN_W:
                fill(canvas, x + 1, row, min(19, SCREEN_W - x - 1), 1, WALL_LIGHT)
    # the face the ball touches gets a bright lip, the outer edge a dark one
    lip = bottom if facing_down else top
    outer = top if facing_down else bottom
    fill(canvas, 0, lip, SCREEN_W, 1, WALL_LIGHT)
    fill(canvas, 0, outer, SCREEN_W, 1, WALL_DARK)


def make_game():
    c = new_canvas(SCREEN_W, SCREEN_H, FIELD)
    field_top, field_bottom = TOP_WALL_LAST_ROW + 1, BOTTOM_WALL_FIRST_ROW - 1

    # subtle checked court, leaving the paddle lanes plain
    court_left, court_right = LEFT_PADDLE_COLS[1] + 3, RIGHT_PADDLE_COLS[0] - 3
    cell = 16
    for y in range(field_top, field_bottom + 1):
        for x in range(court_left, court_right + 1):
            if ((x - CENTRE_X) // cell + (y - field_top) // cell) % 2:
                c[y, x, :3] = FIELD_ALT
    # court lines: an inset rectangle and a centre circle
    inset_top, inset_bottom = field_top + 12, field_bottom - 12
    frame(c, court_left, inset_top, court_right - court_left + 1,
          inset_bottom - inset_top + 1, FIELD_LINE)
    cy = (field_top + field_bottom) / 2 + 0.5
    for y in range(field_top, field_bottom + 1):
        for x in range(court_left, court_right + 1):
            d = math.hypot(x + 0.5 - (CENTRE_X + 1), y + 0.5 - cy)
            if 29.5 <= d < 30.5:
                c[y, x, :3] = FIELD_LINE
    # dashed centre line, two pixels wide
    for y in range(field_top, field_bottom + 1):
        if (y - field_top) % 12 < 7:
            fill(c, CENTRE_X, y, 2, 1, CENTRE_DASH)

    draw_wall(c, 0, TOP_WALL_LAST_ROW, facing_down=True)
    draw_wall(c, BOTTOM_WALL_FIRST_ROW, SCREEN_H - 1, facing_down=False)

    # light score plate hanging from the top wall, behind the score digits
    px, py, pw, ph = SCORE_PLATE
    corners = [(px, py + ph - 1), (px + pw - 1, py + ph - 1)]
    under = [c[y, x].copy() for x, y in corners]
    fill(c, px, py, pw, ph, PLATE_EDGE)
    fill(c, px + 1, py, pw - 2, ph - 1, PLATE)
    for (x, y), colour in zip(corners, under):     # rounded lower corners
        c[y, x] = colour
    fill(c, px + 2, py + ph - 2, pw - 4, 1, mix(PLATE, PLATE_EDGE, 0.15))

    # self-check: the score area is plain and light
    sx, sy, sw, sh = SCORE_AREA
    area = c[sy:sy + sh, sx:sx + sw, :3].astype(int)
    assert area.sum(axis=2).min() >= 3 * 200, "score area must be light"
    for lo, hi in (LEFT_PADDLE_COLS, RIGHT_PADDLE_COLS):
        lane = c[field_top:field_bottom + 1, lo:hi + 1, :3]
        assert (lane == FIELD).all(), "paddle lanes must be plain"
    return c


# ---------------------------------------------------------------------------
# img/game-sprites.png
# ---------------------------------------------------------------------------
def draw_paddle(sheet, region, base):
    """An opaque bevelled bar: light left/top, dark right/bottom, a soft
    cylindrical shade across, and three grip notches in the middle."""
    x0, y0, w, h = region
    dark = mix(base, INK, 0.55)
    light = mix(base, WHITE, 0.55)
    for i in range(w):
        # brightest a third of the way in, like a lit rounded bar
        t = (i - (w - 1) / 3) / (w - 1)
        shade = mix(base, WHITE, 0.35 - 1.2 * t * t) if t < 0 else mix(base, INK, 1.1 * t * t)
        fill(sheet, x0 + i, y0, 1, h, shade)
    frame(sheet, x0, y0, w, h, dark)
    fill(sheet, x0 + 1, y0 + 1, w - 2, 1, light)
    fill(sheet, x0 + 1, y0 + 1, 1, h - 3, light)
    fill(sheet, x0 + 1, y0 + h - 2, w - 2, 1, mix(base, INK, 0.3))
    mid = y0 + h // 2
    for dy in (-5, 0, 5):
        fill(sheet, x0 + 3, mid + dy - 1, w - 6, 1, mix(base, INK, 0.4))
        fill(sheet, x0 + 3, mid + dy, w - 6, 1, mix(base, WHITE, 0.3))


def ball_mask(size):
    centre = size / 2
    yy, xx = np.mgrid[0:size, 0:size] + 0.5
    return np.hypot(xx - centre, yy - centre) <= centre


def draw_ball(sheet, region, style):
    """A round 12x12 ball with a dark rim, shaded from the upper left."""
    x0, y0, w, h = region
    mask = ball_mask(w)
    rim = mask & ~np.pad(ball_mask(w - 2), 1)
    yy, xx = np.mgrid[0:h, 0:w] + 0.5
    bodies = {
        0: ((236, 238, 244), (120, 128, 150)),   # pearl
        1: ((255, 214, 70), (200, 110, 20)),     # gold
        2: ((70, 200, 110), (20, 110, 60)),      # jade, with a white band
        3: ((190, 110, 240), (100, 40, 150)),    # violet, with a checker
    }
    lit, shaded = bodies[style]
    for y in range(h):
        for x in range(w):
            if not mask[y, x]:
                continue
            d = math.hypot(xx[y, x] - w * 0.38, yy[y, x] - h * 0.38) / (w * 0.75)
            colour = mix(lit, shaded, min(1.0, d))
            if style == 2 and 5 <= y <= 6:
                colour = mix(WHITE, shaded, min(1.0, d) * 0.6)
            if style == 3 and ((x // 3 + y // 3) % 2):
                colour = mix(colour, (255, 230, 255), 0.45)
            sheet[y0 + y, x0 + x] = rgba(colour)
    stamp(sheet[y0:y0 + h, x0:x0 + w], rim, 0, 0, mix(shaded, INK, 0.55))
    stamp(sheet[y0:y0 + h, x0:x0 + w], np.array([[1, 1], [1, 0]], bool), 3, 3, WHITE)


def draw_banner(sheet, region, text, scale, panel, edge, text_colour,
                outline, visible=None):
    """An opaque panel with a double frame and centred outlined text.

    `visible` is the range of sheet columns that actually reach the screen;
    the side frames are drawn there and the text is centred in it."""
    x0, y0, w, h = region
    vx0, vx1 = visible if visible else (x0, x0 + w - 1)
    fill(sheet, x0, y0, w, h, panel)
    # a soft vertical gradient inside the panel
    for i in range(2, h - 2):
        t = abs(i - h / 2) / (h / 2)
        fill(sheet, x0, y0 + i, w, 1, mix(panel, INK, 0.35 * t * t))
    fill(sheet, x0, y0, w, 1, INK)
    fill(sheet, x0, y0 + h - 1, w, 1, INK)
    fill(sheet, x0, y0 + 1, w, 1, edge)
    fill(sheet, x0, y0 + h - 2, w, 1, edge)
    for sx, inner in ((vx0, vx0 + 1), (vx1, vx1 - 1)):
        fill(sheet, sx, y0, 1, h, INK)
        fill(sheet, inner, y0 + 1, 1, h - 2, edge)
    tw, th = text_size(text, scale)
    assert tw + 2 <= vx1 - vx0 - 3 and th + 2 <= h - 4, text
    draw_text_centred(sheet, text, vx0, y0, vx1 - vx0 + 1, h, scale,
                      text_colour, outline=outline)


def draw_tile(sheet, region):
    """An 11x11 night-sky lattice.  Every colour depends only on (x, y)
    modulo the tile size, so neighbouring tiles join without seams."""
    x0, y0, w, h = region
    assert w == h
    n = w
    for y in range(n):
        for x in range(n):
            colour = NIGHT
            if (x + y) % n == n - 1 or (x - y) % n == 0:
                colour = NIGHT_LIGHT          # diagonal lattice through the centre
            if (x, y) == (n // 2, n // 2):
                colour = GOLD                 # a star where the lines cross
            elif abs(x - n // 2) + abs(y - n // 2) == 1:
                colour = mix(GOLD, NIGHT, 0.55)
            if x == 0 and y == 0:
                colour = PLUM                 # the other lattice crossing
            sheet[y0 + y, x0 + x] = rgba(colour)


def banner_visible_cols(region, screen_x):
    x0, _, w, _ = region
    first = x0 + max(0, -screen_x)
    last = min(x0 + w - 1, x0 - screen_x + SCREEN_W - 1)
    return first, last


def make_sprites():
    s = new_canvas(SHEET_W, SHEET_H)
    draw_paddle(s, LEFT_PADDLE, BLUE)
    draw_paddle(s, RIGHT_PADDLE, RED)

    go_cols = banner_visible_cols(GAME_OVER_BANNER, GAME_OVER_SCREEN_X)
    wins_cols = banner_visible_cols(P1_WINS_BANNER, WINS_SCREEN_X)
    assert go_cols == (63, 382) and wins_cols == (49, 368)
    draw_banner(s, GAME_OVER_BANNER, "GAME OVER", 3, (120, 30, 44),
                (236, 120, 110), WHITE, INK, go_cols)
    draw_banner(s, P2_WINS_BANNER, "PLAYER 2 WINS", 3, mix(RED, INK, 0.35),
                GOLD, GOLD, INK, wins_cols)
    draw_banner(s, P1_WINS_BANNER, "PLAYER 1 WINS", 3, mix(BLUE, INK, 0.35),
                GOLD, GOLD, INK, wins_cols)
    draw_banner(s, READY_BANNER, "GET READY", 2, GOLD, WHITE, INK,
                (255, 236, 160))
    draw_banner(s, SHORT_BANNER, "GAME", 3, GOLD, WHITE, INK,
                (255, 236, 160))
    draw_banner(s, HOLD_BANNER, "PAUSED", 3, GOLD, WHITE, INK,
                (255, 236, 160))
    draw_banner(s, WAITING_BANNER, "WAITING FOR A PLAYER", 2, mix(BLUE, INK, 0.35),
                GOLD, GOLD, INK)
    draw_banner(s, JOINING_BANNER, "JOINING THE GAME", 2, mix(RED, INK, 0.35),
                GOLD, GOLD, INK)
    draw_tile(s, GAME_OVER_TILE)
    for style, region in enumerate(BALLS):
        draw_ball(s, region, style)
    check_sprites(s)
    return s


def check_sprites(s):
    """Every region is opaque where it must be and the rest is clear."""
    alpha = s[:, :, 3]
    covered = np.zeros(alpha.shape, bool)
    solid = [LEFT_PADDLE, RIGHT_PADDLE, GAME_OVER_BANNER, P2_WINS_BANNER,
             P1_WINS_BANNER, GAME_OVER_TILE, READY_BANNER, SHORT_BANNER,
             HOLD_BANNER, WAITING_BANNER, JOINING_BANNER]
    for x, y, w, h in solid:
        assert (alpha[y:y + h, x:x + w] == 255).all(), (x, y)
        assert not covered[y:y + h, x:x + w].any(), ("overlap", x, y)
        covered[y:y + h, x:x + w] = True
    for x, y, w, h in BALLS:
        a = alpha[y:y + h, x:x + w]
        assert (a[0, 0], a[0, -1], a[-1, 0], a[-1, -1]) == (0, 0, 0, 0)
        assert (a[h // 2, :] == 255).all() and (a[:, w // 2] == 255).all()
        covered[y:y + h, x:x + w] = True
    assert (alpha[~covered] == 0).all(), "stray pixels outside the regions"


# ---------------------------------------------------------------------------
# img/menu.png and img/menu-opts.png
# ---------------------------------------------------------------------------
def draw_menu_entry(canvas, x, y, text, highlighted):
    """One menu band, W x 16.  The plain and highlighted looks put the text
    at exactly the same place, so the highlight can be blitted over it."""
    w, h = MENU_ENTRY_W, MENU_ENTRY_H
    if highlighted:
        fill(canvas, x, y, w, h, GOLD_DARK)
        fill(canvas, x + 1, y + 1, w - 2, h - 2, GOLD)
        fill(canvas, x + 1, y + 1, w - 2, 1, (255, 236, 160))
        fill(canvas, x + 1, y + h - 2, w - 2, 1, mix(GOLD, GOLD_DARK, 0.5))
        for ax, step in ((x + 8, 1), (x + w - 9, -1)):   # arrows at both ends
            for i in range(5):
                fill(canvas, ax + step * i, y + 3 + i, 1, 10 - 2 * i, INK)
        draw_text_centred(canvas, text, x, y + 1, w, h - 2, 2, INK)
    else:
        fill(canvas, x, y, w, h, NIGHT_LIGHT)
        fill(canvas, x + 1, y + 1, w - 2, h - 2, mix(NIGHT, NIGHT_LIGHT, 0.5))
        fill(canvas, x, y, 1, 1, NIGHT)
        fill(canvas, x + w - 1, y, 1, 1, NIGHT)
        fill(canvas, x, y + h - 1, 1, 1, NIGHT)
        fill(canvas, x + w - 1, y + h - 1, 1, 1, NIGHT)
        draw_text_centred(canvas, text, x, y + 1, w, h - 2, 2, (214, 220, 236),
                          shadow=INK)


def make_menu():
    c = new_canvas(SCREEN_W, SCREEN_H)
    for y in range(SCREEN_H):   # night gradient, lighter towards the bottom
        fill(c, 0, y, SCREEN_W, 1, mix(NIGHT, PLUM, (y / SCREEN_H) ** 1.5 * 0.7))
    # a faint lattice of tiny stars
    for y in range(4, SCREEN_H, 11):
        for x in range((y // 11 % 2) * 11 + 5, SCREEN_W, 22):
            c[y, x, :3] = mix(c[y, x, :3], WHITE, 0.25)

    # title with a gold rule under it
    tw, th = text_size("KORRIN TAVREL", 3)
    tx, ty = (SCREEN_W - tw) // 2, 18
    draw_text(c, "KORRIN TAVREL", tx + 1, ty + 2, 3, INK)
    draw_text(c, "KORRIN TAVREL", tx, ty, 3, GOLD, outline=INK)
    fill(c, tx, ty + th + 6, tw, 1, GOLD_DARK)
    fill(c, tx + 20, ty + th + 8, tw - 40, 1, mix(GOLD_DARK, NIGHT, 0.5))

    # two paddles and a ball as decoration beside the entries
    draw_paddle(c, (24, 88, PADDLE_W, PADDLE_H), BLUE)
    draw_paddle(c, (SCREEN_W - 24 - PADDLE_W, 100, PADDLE_W, PADDLE_H), RED)
    ball = new_canvas(BALL_SIZE, BALL_SIZE)
    draw_ball(ball, (0, 0, BALL_SIZE, BALL_SIZE), 1)
    opaque = ball[:, :, 3] == 255
    c[60:60 + BALL_SIZE, 270:270 + BALL_SIZE][opaque] = ball[opaque]

    for text, (x, y) in zip(MENU_ENTRIES, MENU_ENTRY_SCREEN):
        draw_menu_entry(c, x, y, text, highlighted=False)

    hint = (170, 178, 206)
    line1, line2 = "TAB: CHANGE BALL", "UP/DOWN: MOVE   ENTER: CHOOSE"
    w1, _ = text_size(line1, 1)
    w2, _ = text_size(line2, 1)
    draw_text(c, line1, (SCREEN_W - w1) // 2, 196, 1, GOLD, shadow=INK)
    draw_text(c, line2, (SCREEN_W - w2) // 2, 212, 1, hint, shadow=INK)
    return c


def make_menu_opts():
    c = new_canvas(MENU_OPTS_W, MENU_OPTS_H)
    for text, row in zip(MENU_ENTRIES, MENU_OPTS_ROWS):
        draw_menu_entry(c, 0, row, text, highlighted=True)
    assert MENU_OPTS_ROWS[-1] + MENU_ENTRY_H == MENU_OPTS_H
    return c


def check_menu_alignment(menu, opts):
    """The highlighted text must sit exactly on the plain text."""
    for text, (sx, sy), row in zip(MENU_ENTRIES, MENU_ENTRY_SCREEN, MENU_OPTS_ROWS):
        plain = menu[sy:sy + MENU_ENTRY_H, sx:sx + MENU_ENTRY_W, :3].astype(int)
        lit = opts[row:row + MENU_ENTRY_H, :, :3].astype(int)
        plain_text = (plain.sum(axis=2) > 3 * 200)
        lit_text = (lit == INK).all(axis=2)
        lit_text[:, :20] = lit_text[:, -20:] = False     # ignore the arrows
        assert (plain_text == lit_text).all(), text
        assert (opts[row:row + MENU_ENTRY_H, :, 3] == 255).all()


# ---------------------------------------------------------------------------
# img/hyperfont.ttf
# ---------------------------------------------------------------------------
def glyph_outline(bitmap):
    """Draw each horizontal run of lit pixels as one clockwise rectangle."""
    pen = TTGlyphPen(None)
    rows, cols = bitmap.shape
    for r in range(rows):
        y0 = (rows - 1 - r) * FONT_PIXEL
        y1 = y0 + FONT_PIXEL
        c = 0
        while c < cols:
            if not bitmap[r, c]:
                c += 1
                continue
            start = c
            while c < cols and bitmap[r, c]:
                c += 1
            x0, x1 = start * FONT_PIXEL, c * FONT_PIXEL
            pen.moveTo((x0, y0))
            pen.lineTo((x0, y1))
            pen.lineTo((x1, y1))
            pen.lineTo((x1, y0))
            pen.closePath()
    return pen.glyph()


def make_font(path):
    order = [".notdef"]
    cmap, glyphs, metrics = {}, {}, {}

    notdef = np.ones((GLYPH_ROWS, 5), dtype=bool)
    notdef[1:-1, 1:-1] = False
    glyphs[".notdef"] = glyph_outline(notdef)
    metrics[".notdef"] = ((5 + LETTER_GAP) * FONT_PIXEL, 0)

    for ch in sorted(PIXEL_FONT):
        name = GLYPH_NAMES.get(ch, ch)
        bitmap = glyph_bitmap(ch)
        order.append(name)
        cmap[ord(ch)] = name
        if ch.isalpha():
            cmap[ord(ch.lower())] = name
        glyphs[name] = glyph_outline(bitmap)
        lit_cols = np.flatnonzero(bitmap.any(axis=0))
        lsb = int(lit_cols[0]) * FONT_PIXEL if len(lit_cols) else 0
        metrics[name] = ((bitmap.shape[1] + LETTER_GAP) * FONT_PIXEL, lsb)

    ascent, descent = FONT_ASCENT_PX * FONT_PIXEL, FONT_DESCENT_PX * FONT_PIXEL
    fb = FontBuilder(FONT_UPM, isTTF=True)
    fb.updateHead(created=FONT_TIMESTAMP, modified=FONT_TIMESTAMP)
    fb.setupGlyphOrder(order)
    fb.setupCharacterMap(cmap)
    fb.setupGlyf(glyphs)
    fb.setupHorizontalMetrics(metrics)
    fb.setupHorizontalHeader(ascent=ascent, descent=-descent)
    fb.setupNameTable({
        "familyName": "Hyperfont",
        "styleName": "Regular",
        "uniqueFontIdentifier": "Hyperfont Regular 1.0",
        "fullName": "Hyperfont Regular",
        "psName": "Hyperfont-Regular",
        "version": "Version 1.000",
        "copyright": "Copyright (c) 2025 Hyperfont, made for Korrin Tavrel",
    })
    fb.setupOS2(
        sTypoAscender=ascent, sTypoDescender=-descent, sTypoLineGap=0,
        usWinAscent=ascent, usWinDescent=descent,
        sxHeight=7 * FONT_PIXEL, sCapHeight=7 * FONT_PIXEL,
        achVendID="KTAV", fsType=0, fsSelection=0x40,
        usWeightClass=400, usWidthClass=5,
    )
    fb.setupPost()
    fb.font["OS/2"].recalcAvgCharWidth(fb.font)
    fb.font["OS/2"].recalcUnicodeRanges(fb.font)
    fb.font.recalcTimestamp = False
    fb.save(path)


# ---------------------------------------------------------------------------
# snd/*.wav
# ---------------------------------------------------------------------------
def envelope(n, attack_s, decay_s, fade_s):
    """Linear attack, exponential decay, and a cosine fade to exact zero."""
    t = np.arange(n) / SAMPLE_RATE
    env = np.minimum(1.0, t / attack_s) * np.exp(-t / decay_s)
    fade_n = int(fade_s * SAMPLE_RATE)
    env[-fade_n:] *= 0.5 + 0.5 * np.cos(np.linspace(0, math.pi, fade_n))
    env[-1] = 0.0
    return env


def write_wav(path, samples):
    peak = np.abs(samples).max()
    pcm = np.round(samples / peak * PEAK * 32767).astype("<i2")
    assert pcm[0] == 0 and pcm[-1] == 0
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(SAMPLE_RATE)
        w.writeframes(pcm.tobytes())


def make_bounce(path):
    """A wooden 'tock': a sine gliding quickly from 660 Hz down to 440 Hz."""
    n = int(0.090 * SAMPLE_RATE)
    t = np.arange(n) / SAMPLE_RATE
    freq = 440 + 220 * np.exp(-t / 0.012)
    phase = 2 * math.pi * np.cumsum(freq) / SAMPLE_RATE
    phase -= phase[0]
    tone = np.sin(phase) + 0.25 * np.sin(2 * phase)
    write_wav(path, tone * envelope(n, 0.0015, 0.022, 0.012))


def make_menu_opt(path):
    """A bright, short 'blip' at 1200 Hz with a touch of its octave."""
    n = int(0.060 * SAMPLE_RATE)
    t = np.arange(n) / SAMPLE_RATE
    phase = 2 * math.pi * 1200 * t
    tone = np.sin(phase) + 0.3 * np.sin(2 * phase)
    write_wav(path, tone * envelope(n, 0.002, 0.020, 0.010))


# ---------------------------------------------------------------------------
# Icons (dist/icons/ and img/icon.png)
# ---------------------------------------------------------------------------
# One 16x16 pixel picture, enlarged pixel by pixel to every size: 16 divides
# each hicolor size shipped, so every enlargement is whole and stays crisp.
# A rounded night tile with the centre line, both paddles and a gold ball;
# '.' is transparent.
ICON_ART = [
    "................",
    "..OOOOOOOOOOOO..",
    ".OnnnnnnnnnnnnO.",
    ".OnBbnnllnnnnnO.",
    ".OnBbnnllnnnnnO.",
    ".OnBbnnnnYGnnnO.",
    ".OnBbnnnnGgnnnO.",
    ".OnBbnnllnnnnnO.",
    ".OnnnnnllnnRrnO.",
    ".OnnnnnnnnnRrnO.",
    ".OnnnnnnnnnRrnO.",
    ".OnnnnnllnnRrnO.",
    ".OnnnnnllnnRrnO.",
    ".OnnnnnnnnnnnnO.",
    "..OOOOOOOOOOOO..",
    "................",
]
ICON_COLOURS = {
    ".": (0, 0, 0, 0),
    "O": mix(NIGHT_LIGHT, WHITE, 0.3),
    "n": NIGHT,
    "l": NIGHT_LIGHT,
    "B": mix(BLUE, WHITE, 0.35),
    "b": mix(BLUE, INK, 0.3),
    "R": mix(RED, WHITE, 0.35),
    "r": mix(RED, INK, 0.3),
    "Y": mix(GOLD, WHITE, 0.6),
    "G": GOLD,
    "g": GOLD_DARK,
}
ICON_SIZES = [16, 32, 48, 64, 128, 256]   # px, the hicolor sizes installed
WINDOW_ICON_SIZE = 32                     # px, what the game gives its window
WEB_ICON_SIZES = [192, 512]               # px, what browsers want to install a page


def make_icon(size):
    """The icon at `size` px, a whole multiple of the 16x16 picture."""
    base = len(ICON_ART)
    assert size % base == 0 and all(len(row) == base for row in ICON_ART)
    art = np.array([[rgba(ICON_COLOURS[c]) for c in row] for row in ICON_ART], dtype=np.uint8)
    scale = size // base
    return np.kron(art, np.ones((scale, scale, 1), dtype=np.uint8))


def main(args):
    out = args[0] if args else ROOT
    img_dir, snd_dir = (os.path.join(out, d) for d in ("img", "snd"))
    for d in (img_dir, snd_dir):
        os.makedirs(d, exist_ok=True)

    save_png(make_game(), os.path.join(img_dir, "game.png"), alpha=False)
    save_png(make_sprites(), os.path.join(img_dir, "game-sprites.png"), alpha=True)
    menu, opts = make_menu(), make_menu_opts()
    check_menu_alignment(menu, opts)
    save_png(menu, os.path.join(img_dir, "menu.png"), alpha=False)
    save_png(opts, os.path.join(img_dir, "menu-opts.png"), alpha=True)
    make_font(os.path.join(img_dir, "hyperfont.ttf"))
    make_bounce(os.path.join(snd_dir, "bounce.wav"))
    make_menu_opt(os.path.join(snd_dir, "menu-opt.wav"))
    save_png(make_icon(WINDOW_ICON_SIZE), os.path.join(img_dir, "icon.png"), alpha=True)
    for size in ICON_SIZES:
        apps = os.path.join(out, "dist", "icons", "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(apps, exist_ok=True)
        save_png(make_icon(size), os.path.join(apps, "korrin-tavrel.png"), alpha=True)
    web_icons = os.path.join(out, "web", "icons")
    os.makedirs(web_icons, exist_ok=True)
    for size in WEB_ICON_SIZES:
        save_png(make_icon(size), os.path.join(web_icons, "icon-%d.png" % size), alpha=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
