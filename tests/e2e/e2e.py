#!/usr/bin/env python3
"""End-to-end test ground: the real korrin-tavrel under a private Xvfb.

A Session starts an Xvfb of its own (the display number is chosen by the
server itself through -displayfd, so sessions running in parallel never meet),
lays out a temporary working directory with copies of img/ and snd/ (minus any
files a test leaves out), and runs the game there under `stdbuf -oL` so that
every line it prints can be watched as it comes. Keys are pressed with
xdotool, screenshots of the game's window taken with ImageMagick's `import`
and decoded here. The same tests run on both SDL 1.2 runtimes that Debian
ships, classic SDL 1.2 and sdl12-compat (chosen with LD_LIBRARY_PATH):
`sdl12_compat()` tells which one the game loads.
Whatever happens, the game and the X server are ended when the session
closes; both also die with this process (PR_SET_PDEATHSIG), so a runner killed
by a test timeout leaves nothing behind.

A session can also hold a gamepad: a FIFO handed to the game as its joystick
device, into which the test writes Linux joystick records, with a small
preloaded library (tests/e2e/pad_shim.c) answering the joystick ioctls on it.

Standard library only, but for request_close and other_window (python3-xlib).
"""

import contextlib
import ctypes
import functools
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import xml.etree.ElementTree as ElementTree
import zlib

SCREEN_WIDTH = 320
SCREEN_HEIGHT = 240

# The exit status of a run that AddressSanitizer or UBSan ended, so that a
# report is never taken for the game's own status 1.
SANITIZER_STATUS = 86

# Longer than one pass of the game's loops (22 ms): the game reads held keys
# once a pass, and SDL 1.2 drops a release followed within 2 ms by a press of
# the same key.
KEY_HOLD_S = 0.15

# What the game prints each time its menu opens.
SHOWING_MENU = "Showing menu now"

# The Xvfb's screen unless a test asks for another.
DEFAULT_SCREEN = "640x480x24"

# SDL_Linked_Version of sdl12-compat starts here; classic SDL 1.2 ends at 1.2.15.
SDL12_COMPAT_FIRST = (1, 2, 50)

_PR_SET_PDEATHSIG = 1

# The pad that tests/e2e/pad_shim.c describes: its name (classic SDL 1.2 makes
# a hat of its last two axes only when SDL_LINUX_JOYSTICK names it: 2 axes, 1
# hat, 0 balls), and its Linux joystick record (struct js_event: time in ms,
# value, type, number).
PAD_NAME = "Korrin Test Pad"
PAD_RECORD = struct.Struct("=IhBB")
PAD_BUTTON, PAD_AXIS = 1, 2


def _processor_wait_s(schedstat):
    """The seconds a task has waited for a processor (the second figure)."""
    with open(schedstat) as f:
        return int(f.read().split()[1]) / 1e9


def _die_with_parent():
    """Runs in the child before exec: SIGKILL it when this runner dies."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    os.setsid()


class E2EError(Exception):
    """The test ground itself could not do what was asked."""


class _SDLVersion(ctypes.Structure):
    _fields_ = [("major", ctypes.c_uint8), ("minor", ctypes.c_uint8), ("patch", ctypes.c_uint8)]


@functools.lru_cache(maxsize=None)
def sdl_version(library="libSDL-1.2.so.0"):
    """The version of an SDL 1.2 library file; by default of the one the game
    loads (the same dynamic loader, LD_LIBRARY_PATH included, finds it here)."""
    sdl = ctypes.CDLL(library)
    sdl.SDL_Linked_Version.restype = ctypes.POINTER(_SDLVersion)
    version = sdl.SDL_Linked_Version().contents
    return (version.major, version.minor, version.patch)


def sdl12_compat(library="libSDL-1.2.so.0"):
    """True when the game runs on sdl12-compat (SDL 1.2 over SDL2), False on
    classic SDL 1.2; of another library file when one is named."""
    return sdl_version(library) >= SDL12_COMPAT_FIRST


# ---------------------------------------------------------------------------
# Images


class Image:
    """RGBA pixels, rows top to bottom, each pixel an (r, g, b, a) tuple."""

    def __init__(self, width, height, rows):
        self.width = width
        self.height = height
        self.rows = rows


def _unfilter(raw, width, height, bpp):
    stride = width * bpp
    out = bytearray()
    prev = bytearray(stride)
    pos = 0
    for _ in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = prev[i]
            if kind == 0:
                continue
            if kind == 1:
                add = left
            elif kind == 2:
                add = up
            elif kind == 3:
                add = (left + up) >> 1
            elif kind == 4:
                upleft = prev[i - bpp] if i >= bpp else 0
                p = left + up - upleft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                add = left if pa <= pb and pa <= pc else (up if pb <= pc else upleft)
            else:
                raise E2EError("unknown PNG filter %d" % kind)
            line[i] = (line[i] + add) & 0xFF
        out += line
        prev = line
    return out


def read_png(path):
    """Decodes an 8-bit, non-interlaced RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise E2EError("%s is not a PNG file" % path)
    pos = 8
    idat = b""
    header = None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        raise E2EError("%s: only 8-bit RGB/RGBA PNGs are read here" % path)
    pixels = _unfilter(zlib.decompress(idat), width, height, channels)
    rows = []
    stride = width * channels
    for y in range(height):
        line = pixels[y * stride:(y + 1) * stride]
        if channels == 4:
            rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
        else:
            rows.append([tuple(line[i:i + 3]) + (255,) for i in range(0, stride, 3)])
    return Image(width, height, rows)


def png_bytes(image):
    """An 8-bit RGBA PNG file of an Image."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in image.rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", image.width, image.height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def blend(under, over):
    """`over` drawn on an opaque `under` with its alpha, as a blit does."""
    a = over[3]
    return tuple(under[c] + (over[c] - under[c]) * a // 255 for c in range(3)) + (255,)


def draw(canvas, image, region, x, y):
    """Blits a region (sx, sy, w, h) of an image onto the canvas at (x, y),
    cut at the canvas edges, blending by the image's alpha. Changes canvas."""
    sx, sy, w, h = region
    for row in range(h):
        cy = y + row
        if not 0 <= cy < canvas.height or not 0 <= sy + row < image.height:
            continue
        for col in range(w):
            cx = x + col
            if not 0 <= cx < canvas.width or not 0 <= sx + col < image.width:
                continue
            canvas.rows[cy][cx] = blend(canvas.rows[cy][cx], image.rows[sy + row][sx + col])


def reduce(image, k):
    """The picture that, drawn k times larger (each pixel as a k x k block),
    gives `image`; None when a block is not one colour or the image's size is
    not a whole multiple of k."""
    if image.width % k or image.height % k:
        return None
    rows = []
    for y in range(0, image.height, k):
        block_rows = image.rows[y:y + k]
        row = block_rows[0][::k]
        if any(line[x:x + k] != [pixel] * k
               for line in block_rows for x, pixel in zip(range(0, image.width, k), row)):
            return None
        rows.append(row)
    return Image(image.width // k, image.height // k, rows)


def blank(width, height):
    return Image(width, height, [[(0, 0, 0, 255)] * width for _ in range(height)])


def close(a, b, tolerance):
    """Two pixels whose colours differ by at most `tolerance` per channel."""
    return all(abs(a[c] - b[c]) <= tolerance for c in range(3))


def mismatches(actual, expected, x, y, w, h, tolerance):
    """The pixels of a rectangle that are not close in the two images, as
    (x, y, actual colour, expected colour)."""
    return [(px, py, actual.rows[py][px][:3], expected.rows[py][px][:3])
            for py in range(y, y + h) for px in range(x, x + w)
            if not close(actual.rows[py][px], expected.rows[py][px], tolerance)]


# ---------------------------------------------------------------------------
# Valgrind


def memcheck(report, suppressions):
    """The valgrind command (for Session.start) that checks the game for leaks
    and memory errors, writing its findings as XML into `report`."""
    return ["valgrind", "--tool=memcheck", "--leak-check=full",
            "--show-leak-kinds=definite,indirect,possible", "--num-callers=40",
            "--suppressions=" + suppressions, "--xml=yes", "--xml-file=" + report]


class MemcheckError:
    """One finding of memcheck: kind (e.g. "Leak_DefinitelyLost",
    "InvalidRead"), text, bytes lost as valgrind's leak summary counts them
    (0 for other errors) and the stack as
    (function, object file, source file, line) frames, innermost first."""

    def __init__(self, node):
        self.kind = node.findtext("kind")
        what = node.find("xwhat")
        self.text = what.findtext("text") if what is not None else node.findtext("what")
        self.bytes = 0
        if what is not None:
            # A block's own bytes: a record of blocks definitely or possibly
            # lost also counts the blocks lost through them ("N (D direct, I
            # indirect) bytes"), which have records of their own.
            direct = re.search(r"\(([\d,]+) direct", self.text)
            self.bytes = int(direct.group(1).replace(",", "")) if direct else int(
                what.findtext("leakedbytes"))
        self.frames = [(f.findtext("fn") or "?", f.findtext("obj") or "?",
                        f.findtext("file") or "", f.findtext("line") or "")
                       for f in node.find("stack").findall("frame")]

    def passes_through(self, executable):
        return any(obj == executable for _, obj, _, _ in self.frames)

    def __repr__(self):
        return "\n".join([self.kind + ": " + self.text] +
                         ["    %s (%s %s:%s)" % (fn, os.path.basename(obj), src, line)
                          for fn, obj, src, line in self.frames])


def read_memcheck(report):
    """(the errors memcheck reported, {suppression name: times used})."""
    root = ElementTree.parse(report).getroot()
    errors = [MemcheckError(node) for node in root.findall("error")]
    used = {pair.findtext("name"): int(pair.findtext("count"))
            for pair in root.findall("suppcounts/pair")}
    return errors, used


# ---------------------------------------------------------------------------
# Processes


class _Xvfb:
    # -noreset: SDL 1.2 opens the display once to see whether X11 is there,
    # closes it and opens it again. Without -noreset that first close (the
    # last client leaving) makes the server reset, and the second open often
    # fails with "Couldn't open X11 display".
    def __init__(self, screen):
        read_fd, write_fd = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen,
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)
        except FileNotFoundError:
            os.close(read_fd)
            os.close(write_fd)
            raise E2EError("Xvfb is not installed (tools/setup.sh installs it)")
        os.close(write_fd)
        with os.fdopen(read_fd) as displayfd:
            number = displayfd.readline().strip()
        if not number:
            self.stop()
            raise E2EError("Xvfb did not start")
        self.display = ":" + number

    def stop(self):
        _end(self.proc)


def _end(proc, grace_s=2.0):
    """Ends a process (and its group) we started: TERM, then KILL."""
    if proc is None or proc.poll() is not None:
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            return
        try:
            proc.wait(timeout=grace_s)
            return
        except subprocess.TimeoutExpired:
            pass


class Session:
    """One run of the game in a working directory of its own.

    game: path of the korrin-tavrel executable, or a whole command as a list
        (e.g. an installed launcher, or a bench tool with its arguments).
    assets: the repository root, whose img/ and snd/ are copied; None
        leaves the working directory empty (a launcher finds its own data).
    without: asset paths ("img/menu.png", ...) left out of the copy.
    files: {asset path: bytes} written over the copies (e.g. a damaged file).
    env: extra environment for the game (e.g. SDL_AUDIODRIVER=bogus); a
        value of None removes the variable.
    display: False runs the game without an X server.
    screen: the X server's screen, WIDTHxHEIGHTxDEPTH.
    pad_shim: the built tests/e2e/pad_shim.c: the game gets a gamepad that
        pad_axis and pad_button work.
    """

    def __init__(self, game, assets, without=(), env=None, display=True, files=None,
                 screen=DEFAULT_SCREEN, pad_shim=None):
        if isinstance(game, str):
            self.command = [os.path.abspath(game)]
        else:
            self.command = list(game)
        self.workdir = tempfile.mkdtemp(prefix="korrin-e2e-")
        self.proc = None
        self.xvfb = None
        self.lines = []
        self._lines_changed = threading.Condition()
        self._reader = None
        self.status = None
        self._shot_count = 0
        self._managed = False  # a window manager runs (see window_manager)
        self._other_windows = []  # this runner's own windows (see other_window)
        self._pad = None  # the FIFO's descriptor, held open from before the game starts
        self.last_screenshot = None
        try:
            for folder in ("img", "snd") if assets is not None else ():
                shutil.copytree(os.path.join(assets, folder), os.path.join(self.workdir, folder))
            for missing in without:
                os.remove(os.path.join(self.workdir, missing))
            for name, data in (files or {}).items():
                with open(os.path.join(self.workdir, name), "wb") as f:
                    f.write(data)
            self.env = dict(os.environ)
            # No sound card: the disk driver writes the mix to a file, in real time.
            self.env.update({
                "SDL_AUDIODRIVER": "disk",
                "SDL_DISKAUDIOFILE": os.path.join(self.workdir, "audio.raw"),
                "SDL_DISKAUDIODELAY": "93",
            })
            # stdbuf preloads its library ahead of AddressSanitizer's runtime,
            # which a sanitized build refuses unless told to let it be.
            self._add_options("ASAN_OPTIONS", "verify_asan_link_order=0",
                              "exitcode=%d" % SANITIZER_STATUS)
            self._add_options("UBSAN_OPTIONS", "exitcode=%d" % SANITIZER_STATUS)
            # No session bus: libdbus (which SDL2 loads) would otherwise fork
            # to autolaunch one with dbus-launch, a child that valgrind follows
            # into the game's report and a daemon that may outlive the game.
            self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.workdir,
                                                                               "no-bus")
            self.env.pop("SDL_VIDEODRIVER", None)
            self.env.pop("DISPLAY", None)
            if display:
                self.xvfb = _Xvfb(screen)
                self.env["DISPLAY"] = self.xvfb.display
            if pad_shim:
                self._give_pad(pad_shim)
            for name, value in (env or {}).items():  # None unsets
                if value is None:
                    self.env.pop(name, None)
                else:
                    self.env[name] = value
        except BaseException:
            self.close()
            raise

    def _give_pad(self, shim):
        fifo = os.path.join(self.workdir, "pad")
        os.mkfifo(fifo)
        # Open at both ends before the game starts: its open would block otherwise.
        self._pad = os.open(fifo, os.O_RDWR)
        self.env.update({"SDL_JOYSTICK_DEVICE": fifo,
                         "SDL_LINUX_JOYSTICK": "'%s' 2 1 0" % PAD_NAME})
        self._add_options("LD_PRELOAD", os.path.abspath(shim))

    def _pad_record(self, kind, number, value):
        os.write(self._pad, PAD_RECORD.pack(int(time.monotonic() * 1000) & 0xFFFFFFFF,
                                            value, kind, number))

    def pad_axis(self, number, value):
        """Moves an axis of the pad: 0 and 1 the left stick (1 grows
        downwards), 2 and 3 the d-pad (hat 0); -32767 to 32767."""
        self._pad_record(PAD_AXIS, number, value)

    def pad_button(self, number, down):
        self._pad_record(PAD_BUTTON, number, 1 if down else 0)

    def pad_press(self, number, hold=KEY_HOLD_S, after=KEY_HOLD_S):
        """Presses a button of the pad as press() presses a key: the game
        polls the pad once a pass, so a press must outlast one."""
        self.pad_button(number, True)
        time.sleep(hold)
        self.pad_button(number, False)
        time.sleep(after)

    def _add_options(self, variable, *options):
        self.env[variable] = ":".join(filter(None, [self.env.get(variable)] + list(options)))

    # -- the game ------------------------------------------------------------

    def start(self, wrapper=()):
        """Starts the game; `wrapper` is a command it runs under (valgrind)."""
        with open(os.path.join(self.workdir, "stderr.txt"), "wb") as stderr:
            self.proc = subprocess.Popen(
                ["stdbuf", "-oL"] + list(wrapper) + self.command, cwd=self.workdir,
                env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=stderr,
                preexec_fn=_die_with_parent)
        self._reader = threading.Thread(target=self._read_stdout, daemon=True)
        self._reader.start()
        return self

    def _read_stdout(self):
        for raw in self.proc.stdout:
            with self._lines_changed:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self._lines_changed.notify_all()
        with self._lines_changed:
            self._lines_changed.notify_all()

    def wait_for_line(self, text, count=1, timeout=10.0, ending=False):
        """Waits until `text` has been printed `count` times in all (with
        `ending`, as the end of a line: after a text-mode screen's codes)."""
        deadline = time.monotonic() + timeout
        with self._lines_changed:
            while sum(line == text or (ending and line.endswith(text))
                      for line in self.lines) < count:
                left = deadline - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None and not self._reader.is_alive()):
                    raise E2EError("%r (%d times) not printed within %.0f s; printed so far: %r"
                                   % (text, count, timeout, self.lines))
                self._lines_changed.wait(min(left, 0.2))

    def waiting_port(self, timeout=10.0):
        """The port a hosting game says it waits for a player on."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for line in self.lines:
                if line.startswith("Waiting for a player on port "):
                    return int(line.rsplit(" ", 1)[1].rstrip("."))
            time.sleep(0.05)
        raise E2EError("the host did not say its port: %r, status %r, stderr %r"
                       % (self.lines, self.proc.poll(), self.stderr()))

    def finish(self, timeout=10.0, check=False):
        """Waits for the game to end; returns (stdout lines, exit status).
        With `check`, an exit status other than 0 raises E2EError."""
        try:
            self.status = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise E2EError("the game did not end within %.0f s; printed so far: %r"
                           % (timeout, self.lines))
        self._reader.join(timeout=5)
        if check and self.status != 0:
            raise E2EError("the game ended with status %d; printed: %r"
                           % (self.status, self.lines))
        return list(self.lines), self.status

    def stderr(self):
        with open(os.path.join(self.workdir, "stderr.txt"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def left_behind(self, timeout=2.0):
        """What the ended game left: processes of its process group (the game
        leads a group of its own) and windows on its X display (the server
        may take a moment to see the connection closed)."""
        deadline = time.monotonic() + timeout
        while True:
            found = self._processes_and_windows()
            if not found or time.monotonic() > deadline:
                return found
            time.sleep(0.1)

    def _processes_and_windows(self):
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/stat" % pid) as f:
                    stat = f.read()
            except OSError:
                continue
            # pid (comm) state ppid pgrp ...; comm may hold spaces
            if int(stat.rsplit(")", 1)[1].split()[2]) == self.proc.pid:
                found.append("process " + stat.rsplit(")", 1)[0] + ")")
        if self.xvfb is not None:
            found += ["window " + w for w in self._visible_windows()]
        return found

    def _visible_windows(self):
        # Any name or class: the root window has neither, the game's window
        # has its class.
        return subprocess.run(["xdotool", "search", "--onlyvisible", "."], env=self.env,
                              stdin=subprocess.DEVNULL, timeout=10, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout.decode().split()

    def run(self, timeout=10.0):
        """Starts the game and waits for it to end, pressing nothing."""
        return self.start().finish(timeout)

    def run_timed(self, timeout=10.0):
        """run(), and the game's own seconds from start to end: the time it
        waited for a processor, and this runner to see its end (a busy
        machine's slowness, by the kernel's schedstat), left out."""
        runner = "/proc/thread-self/schedstat"
        started = time.monotonic()
        self.start()
        deadline = started + timeout
        woken_late = 0.0  # this runner's wait for a processor as it last woke
        # Ended but not yet reaped: its schedstat is still there to read.
        while time.monotonic() <= deadline and os.waitid(
                os.P_PID, self.proc.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is None:
            waited = _processor_wait_s(runner)
            time.sleep(0.01)
            woken_late = _processor_wait_s(runner) - waited
        took = time.monotonic() - started - woken_late
        if time.monotonic() <= deadline:
            took -= _processor_wait_s("/proc/%d/schedstat" % self.proc.pid)
        return (*self.finish(timeout), took)

    # -- keys and screen -----------------------------------------------------

    def _x(self, *args):
        return subprocess.run(list(args), env=self.env, check=True, timeout=10,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout.decode()

    def window(self, timeout=5.0):
        """The id of the game's window: the only visible window on this
        session's display."""
        deadline = time.monotonic() + timeout
        while True:
            windows = [w for w in self._visible_windows() if w not in self._other_windows]
            if len(windows) == 1:
                return windows[0]
            if time.monotonic() > deadline:
                raise E2EError("not one visible window on the display but %r" % windows)
            time.sleep(0.1)

    def linked_sdl(self):
        """The SDL 1.2 library file the running game has loaded (a launcher
        may have chosen it)."""
        with open("/proc/%d/maps" % self.proc.pid) as maps:
            for line in maps:
                if "/libSDL-1.2.so" in line:
                    return line.split()[-1]
        raise E2EError("the game has loaded no SDL 1.2 library")

    @contextlib.contextmanager
    def window_manager(self):
        """openbox on this session's display (it honours fullscreen), running
        before the game starts; focus() then activates the window through it."""
        manager = subprocess.Popen(["openbox"], env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   preexec_fn=_die_with_parent)
        try:
            deadline = time.monotonic() + 10
            while "window id" not in self._x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"):
                if time.monotonic() > deadline:
                    raise E2EError("openbox did not start")
                time.sleep(0.1)
            self._managed = True
            yield
        finally:
            self._managed = False
            _end(manager)

    @contextlib.contextmanager
    def other_window(self):
        """A small window of this runner's own in the screen's bottom-right
        corner, clear of the game's, activated through the window manager:
        the game's window loses the focus to it until the block ends."""
        from Xlib import X, Xutil, display
        connection = display.Display(self.env["DISPLAY"])
        try:
            screen = connection.screen()
            size = 20
            window = screen.root.create_window(
                screen.width_in_pixels - size, screen.height_in_pixels - size, size, size, 0,
                screen.root_depth, background_pixel=screen.white_pixel)
            window.set_wm_name("other")
            window.set_wm_normal_hints(flags=Xutil.USPosition | Xutil.PPosition,
                                       x=screen.width_in_pixels - size,
                                       y=screen.height_in_pixels - size)
            window.map()
            connection.sync()
            self._other_windows.append(str(window.id))
            deadline = time.monotonic() + 5
            while str(window.id) not in self._visible_windows():
                if time.monotonic() > deadline:
                    raise E2EError("the other window did not show")
                time.sleep(0.05)
            self._x("xdotool", "windowactivate", "--sync", str(window.id))
            yield
            window.destroy()
            connection.sync()
        finally:
            connection.close()

    def request_close(self):
        """Asks the game's window to close as a window manager does when its
        close button is pressed: a WM_DELETE_WINDOW client message (through
        python3-xlib, which tools/setup.sh installs)."""
        from Xlib import X, display, protocol
        connection = display.Display(self.env["DISPLAY"])
        try:
            window = connection.create_resource_object("window", int(self.window()))
            delete = connection.intern_atom("WM_DELETE_WINDOW")
            window.send_event(protocol.event.ClientMessage(
                window=window, client_type=connection.intern_atom("WM_PROTOCOLS"),
                data=(32, [delete, X.CurrentTime, 0, 0, 0])), event_mask=X.NoEventMask)
            # A round trip: the server has sent the message on before the
            # connection closes (with a mere flush, about one in fifteen was lost).
            connection.sync()
        finally:
            connection.close()

    def window_size(self):
        """(width, height) of the game's window."""
        shell = self._x("xdotool", "getwindowgeometry", "--shell", self.window())
        fields = dict(line.split("=", 1) for line in shell.split())
        return int(fields["WIDTH"]), int(fields["HEIGHT"])

    def focus(self):
        """Gives the game's window the keyboard focus, wherever it lies (classic
        SDL 1.2 opens it at the top-left, sdl12-compat centres it): the
        pointer onto its middle (with no window manager the focus follows the
        pointer) and the focus set on it."""
        window = self.window()
        if self._managed:
            self._x("xdotool", "windowactivate", "--sync", window)
            return
        width, height = self.window_size()
        self._x("xdotool", "mousemove", "--window", window, str(width // 2), str(height // 2),
                "windowfocus", "--sync", window)

    def key_down(self, key):
        self._x("xdotool", "keydown", key)

    def key_up(self, key):
        self._x("xdotool", "keyup", key)

    def press(self, key, hold=KEY_HOLD_S, after=KEY_HOLD_S):
        """Presses an X key (e.g. "Up", "Return", "Escape") for `hold` seconds,
        then leaves the game `after` seconds to see it released."""
        self.key_down(key)
        time.sleep(hold)
        self.key_up(key)
        time.sleep(after)

    def window_shot(self, name=None, decode=True):
        """The game's window at its own size, kept as a PNG file in the
        working directory: returned as an Image, or with `decode` False as
        the path of the file."""
        self._shot_count += 1
        path = os.path.join(self.workdir, "%s-%d.png" % (name or "shot", self._shot_count))
        self._x("import", "-display", self.env["DISPLAY"], "-window", self.window(),
                "PNG24:" + path)
        self.last_screenshot = os.path.basename(path)
        return read_png(path) if decode else path

    def screenshot(self, name=None):
        """The game's screen as it draws it, 320x240: the window itself, or
        a window k times as large reduced (each k x k block must be one
        colour)."""
        image = self.window_shot(name)
        k = image.width // SCREEN_WIDTH
        small = reduce(image, k) if k and image.height == k * SCREEN_HEIGHT else None
        if small is None or small.width != SCREEN_WIDTH:
            raise E2EError("screenshot %s (%dx%d) is not the game's screen drawn in whole "
                           "%dx%d blocks" % (self.last_screenshot, image.width, image.height,
                                              k, k))
        return small

    def wait_for_screen(self, shows, what, timeout=10.0, interval=0.2):
        """Takes screenshots until `shows(image)` is true; returns that image.
        `what` names the awaited screen in the error."""
        deadline = time.monotonic() + timeout
        while True:
            image = self.screenshot()
            if shows(image):
                return image
            if time.monotonic() > deadline:
                raise E2EError("%s not seen within %.0f s (last screenshot: %s); printed: %r"
                               % (what, timeout, self.last_screenshot, self.lines))
            time.sleep(interval)

    # -- the menu ------------------------------------------------------------
    # `shows_menu(image)` tells a screenshot of the menu as it opens (entry 0
    # highlighted) from any other.

    def open_menu(self, shows_menu, wrapper=(), timeout=10.0):
        """Starts the game (under `wrapper`) and waits for its first menu,
        printed and on the screen; returns that screenshot."""
        self.start(wrapper)
        self.wait_for_line(SHOWING_MENU, timeout=timeout)
        self.focus()
        return self.wait_for_screen(shows_menu, "the menu", timeout)

    def wait_for_menu(self, shows_menu, visits, timeout=10.0):
        """Waits until the menu has opened `visits` times in all and is on
        the screen; returns that screenshot."""
        self.wait_for_line(SHOWING_MENU, visits, timeout)
        return self.wait_for_screen(shows_menu, "the menu (visit %d)" % visits, timeout)

    def leave_from_fresh_menu(self, shows_menu, visits=1, hold=KEY_HOLD_S, timeout=10.0):
        """Once the menu has opened `visits` times and is on the screen with
        entry 0 highlighted: up wraps to QUIT, and Return chooses it."""
        self.wait_for_menu(shows_menu, visits, timeout)
        self.press("Up", hold, hold)
        self.press("Return", hold, hold)

    def keep_screenshots(self, into):
        """Copies the screenshots taken so far into a directory (for a
        failing test's report)."""
        os.makedirs(into, exist_ok=True)
        for name in os.listdir(self.workdir):
            if name.endswith(".png"):
                shutil.copy(os.path.join(self.workdir, name), into)

    # -- the end -------------------------------------------------------------

    def close(self):
        _end(self.proc)
        if self._pad is not None:
            os.close(self._pad)
        if self.proc is not None and self.proc.stdout is not None:
            if self._reader is not None:
                self._reader.join(timeout=5)
            self.proc.stdout.close()
        if self.xvfb is not None:
            self.xvfb.stop()
        shutil.rmtree(self.workdir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
