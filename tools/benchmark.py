#!/usr/bin/python3
"""Performance figures of Korrin Tavrel, printed as a Markdown table.

    /usr/bin/python3 tools/benchmark.py [BUILD_DIR]        (default: build)

BUILD_DIR must be configured (`cmake -S . -B build`); the script first
builds what it runs there, the game and the two bench tools, which the
default build leaves out:

    cmake --build BUILD_DIR --target korrin-tavrel bench-frames bench-pacing

Needs Xvfb, xdotool and ImageMagick (tools/setup.sh installs them) and
valgrind for the instruction count, and libsdl1.2-compat for the CPU
figures on sdl12-compat. Takes about a minute and a half. Runs use the
end-to-end runner's Session (tests/e2e/e2e.py): an Xvfb of their own, the
sound going to SDL's disk driver in real time. All figures but the CPU
shares are taken on the system's classic SDL 1.2.

What is measured, and how:

- Start-up: from just before the runner spawns the process (`stdbuf -oL`
  then the program, as the tests run the game) to the return of the menu's
  first SDL_Flip, which bench-frames reports on CLOCK_MONOTONIC. bench-frames
  starts as the executable does (initRandom, initGame, showMenu). Median of
  7 runs, each with an Xvfb of its own that is already up.
- CPU: the real korrin-tavrel; utime + stime of all its threads from
  /proc/<pid>/stat over 5 s with the menu open, then over 5 s of a
  two-player match in which nobody steers (the ball is served, bounces and
  scores), then over 5 s of that match on hold (P pressed, the PAUSED
  banner seen; P again takes it off hold). The X server's own work is not counted. Taken on each runtime
  (RUNTIMES): classic SDL 1.2 (LD_LIBRARY_PATH unset), and sdl12-compat
  (LD_LIBRARY_PATH on its folder) with the window at 1x on a 640x480 screen
  and at 3x on a 1920x1080 one (SDL12COMPAT_WINDOW_SCALING, nearest-pixel
  scaling); the window's size is checked. On sdl12-compat SDL2 draws the
  frame through one of its renderers: which one it chose is asked of SDL2
  itself by a probe (RENDERER_PROBE) that starts video as the game does in
  the same environment and on the same display. Under Xvfb every renderer
  runs on the CPU (OpenGL through Mesa's llvmpipe, in threads of the game's
  process, which are counted); on a desktop with a GPU the figures differ,
  so only the classic runtime's have a target.
- Match frame: bench-frames runs match frames back to back, with no pacing
  (keys, update, win check, drawing, and SDL_Flip to the Xvfb), the game's
  clock advanced by 22 ms a frame: the mean wall time of 2000 frames after 50
  of warm-up; and the instructions callgrind counts in runMatchFrame
  (--toggle-collect) over 300 frames, divided by 300.
- Memory: the real korrin-tavrel, three two-player matches, each left with
  Escape: the first after its 5 s of CPU sampling above, the other two after
  3 s; VmRSS and VmHWM from /proc/<pid>/status in the menu before the first
  and after each. The peak is VmHWM after the third; flat means that neither
  the resident size nor the peak grows by more than 256 kB from the first
  match's end to the third's.
- Speeds: build/bench-pacing (8 s of a match on the real clock, video to
  SDL's dummy driver), its measured ball and paddle speeds.

Exit status 0 when every target is met, 1 when one is missed.
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import sysconfig
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import game_test  # noqa: E402  (its pictures of the screens the game must show)

game_test.ASSETS = ROOT

STARTUP_RUNS = 7
CPU_SAMPLE_S = 5.0
MATCH_FRAMES, WARMUP_FRAMES = 2000, 50
CALLGRIND_FRAMES = 300
MEMORY_MATCHES, MEMORY_MATCH_S = 3, 3.0
FLAT_KB = 256

STARTUP_LIMIT_MS = 150
CPU_LIMIT = 3.0  # % of one core, on classic SDL 1.2
FRAME_LIMIT_US = 500
MEMORY_LIMIT_MB = 40
SPEED_TOLERANCE = 0.10


def progress(text):
    print(text, file=sys.stderr, flush=True)


def machine():
    with open("/proc/cpuinfo") as f:
        model = next((line.split(":", 1)[1].strip() for line in f
                      if line.startswith("model name")), "unknown CPU")
    release = "unknown system"
    if os.path.exists("/etc/os-release"):
        with open("/etc/os-release") as f:
            fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        release = fields.get("PRETTY_NAME", release).strip('"')
    return "%d cores (nproc), %s, %s, under Xvfb" % (os.cpu_count(), model, release)


def build_type(build):
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            cache = f.read()
    except OSError:
        return "unknown build"
    kind = re.search(r"^CMAKE_BUILD_TYPE:\w+=(.*)$", cache, re.M)
    sanitized = re.search(r"^KORRIN_SANITIZE:\w+=ON$", cache, re.M)
    # Left empty, CMakeLists.txt makes it RelWithDebInfo.
    return ((kind.group(1) if kind and kind.group(1) else "RelWithDebInfo")
            + (", sanitized" if sanitized else ""))


def value_after(lines, key):
    """The number printed on the line "key <number>"."""
    for line in lines:
        if line.startswith(key + " "):
            return float(line.split()[1])
    raise e2e.E2EError("no %r line in %r" % (key, lines))


# ---------------------------------------------------------------------------
# Start-up and the cost of a frame (bench-frames)


def startup_ms(build):
    results = []
    for _ in range(STARTUP_RUNS):
        with e2e.Session([os.path.join(build, "bench-frames"), "startup"], ROOT) as session:
            spawned = time.monotonic()
            lines, status = session.start().finish(timeout=30)
            if status != 0:
                raise e2e.E2EError("bench-frames startup: status %d, %r" % (status, lines))
            results.append((value_after(lines, "first-frame") - spawned) * 1000.0)
    return results


def frame_wall_us(build):
    command = [os.path.join(build, "bench-frames"), "match", str(MATCH_FRAMES),
               str(WARMUP_FRAMES)]
    with e2e.Session(command, ROOT) as session:
        lines, status = session.run(timeout=120)
    if status != 0:
        raise e2e.E2EError("bench-frames match: status %d, %r" % (status, lines))
    return value_after(lines, "mean-us"), value_after(lines, "median-us")


def frame_instructions(build):
    """Instructions per match frame, or None without valgrind."""
    if shutil.which("valgrind") is None:
        return None
    command = ["valgrind", "--tool=callgrind", "--toggle-collect=runMatchFrame",
               "--callgrind-out-file=callgrind.out",
               os.path.join(build, "bench-frames"), "match", str(CALLGRIND_FRAMES), "0"]
    with e2e.Session(command, ROOT) as session:
        lines, status = session.run(timeout=300)
        if status != 0:
            raise e2e.E2EError("callgrind: status %d, %r" % (status, lines))
        with open(os.path.join(session.workdir, "callgrind.out")) as f:
            summary = re.search(r"^summary: (\d+)$", f.read(), re.M)
    return int(summary.group(1)) / value_after(lines, "calls")


# ---------------------------------------------------------------------------
# The runtimes


class Runtime:
    """An SDL 1.2 runtime for the game: a name, the environment that picks
    it (a value of None unsets the variable), the X screen and the window's
    scale there."""

    def __init__(self, name, env, screen=e2e.DEFAULT_SCREEN, scale=1):
        self.name, self.env, self.screen, self.scale = name, env, screen, scale


SDL12_COMPAT_DIR = "/usr/lib/%s/sdl12-compat" % sysconfig.get_config_var("MULTIARCH")


def sdl12_compat(scale, screen):
    return Runtime("sdl12-compat, %dx" % scale,
                   {"LD_LIBRARY_PATH": SDL12_COMPAT_DIR,
                    "SDL12COMPAT_WINDOW_SCALING": str(scale),
                    "SDL12COMPAT_SCALE_METHOD": "nearest"}, screen, scale)


CLASSIC = Runtime("classic SDL 1.2", {"LD_LIBRARY_PATH": None})
RUNTIMES = (CLASSIC, sdl12_compat(1, e2e.DEFAULT_SCREEN), sdl12_compat(3, "1920x1080x24"))

# Starts video as src/platform/init.cpp does, then asks SDL2 (through sdl12-compat's
# SDL12COMPAT_GetWindow) which renderer draws the window. Prints the linked
# SDL 1.2 version and the renderer's name.
RENDERER_PROBE = r"""
import ctypes
SDL_INIT_VIDEO, SDL_SWSURFACE = 0x20, 0
class Version(ctypes.Structure):
    _fields_ = [("major", ctypes.c_uint8), ("minor", ctypes.c_uint8), ("patch", ctypes.c_uint8)]
class RendererInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("flags", ctypes.c_uint32),
                ("num_texture_formats", ctypes.c_uint32),
                ("texture_formats", ctypes.c_uint32 * 16),
                ("max_texture_width", ctypes.c_int), ("max_texture_height", ctypes.c_int)]
sdl = ctypes.CDLL("libSDL-1.2.so.0")
sdl.SDL_Linked_Version.restype = ctypes.POINTER(Version)
sdl.SDL_SetVideoMode.restype = ctypes.c_void_p
sdl.SDL12COMPAT_GetWindow.restype = ctypes.c_void_p
version = sdl.SDL_Linked_Version().contents
print("%d.%d.%d" % (version.major, version.minor, version.patch))
if sdl.SDL_Init(SDL_INIT_VIDEO) < 0 or not sdl.SDL_SetVideoMode(320, 240, 0, SDL_SWSURFACE):
    raise SystemExit("no video mode")
sdl2 = ctypes.CDLL("libSDL2-2.0.so.0")
sdl2.SDL_GetRenderer.restype = ctypes.c_void_p
sdl2.SDL_GetRenderer.argtypes = [ctypes.c_void_p]
info = RendererInfo()
if sdl2.SDL_GetRendererInfo(ctypes.c_void_p(sdl2.SDL_GetRenderer(sdl.SDL12COMPAT_GetWindow())),
                            ctypes.byref(info)) != 0:
    raise SystemExit("no renderer")
print(info.name.decode())
sdl.SDL_Quit()
"""


def renderer(runtime):
    """The renderer SDL2 chooses for the game's window on sdl12-compat."""
    command = [sys.executable, "-c", RENDERER_PROBE]
    with e2e.Session(command, None, env=runtime.env, screen=runtime.screen) as session:
        lines, status = session.run(timeout=30)
        if status != 0 or len(lines) != 2:
            raise e2e.E2EError("renderer probe: status %d, %r; stderr %r"
                               % (status, lines, session.stderr()[-500:]))
    version = tuple(int(part) for part in lines[0].split("."))
    if version < e2e.SDL12_COMPAT_FIRST:
        raise e2e.E2EError("%s is not sdl12-compat but SDL %s" % (SDL12_COMPAT_DIR, lines[0]))
    return lines[1]


# ---------------------------------------------------------------------------
# CPU share and memory of the real executable


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rpartition(")")[2].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_share(pid, seconds):
    """Percent of one core that the process used over the next `seconds`."""
    cpu_before, wall_before = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return 100.0 * (cpu_seconds(pid) - cpu_before) / (time.monotonic() - wall_before)


def memory_kb(pid):
    """(VmRSS, VmHWM) in kB."""
    with open("/proc/%d/status" % pid) as f:
        fields = dict(line.split(":", 1) for line in f)
    return tuple(int(fields[key].split()[0]) for key in ("VmRSS", "VmHWM"))


def cpu_and_memory(build, runtime, matches):
    """CPU share in the menu, in a match and in that match on hold, and the
    memory after each of `matches` two-player matches, on a runtime."""
    menu = game_test.shows_menu
    match_on = game_test.paddle_at(1, game_test.PADDLE_START_Y)
    with e2e.Session(os.path.join(build, "korrin-tavrel"), ROOT, env=runtime.env,
                     screen=runtime.screen) as session:
        session.open_menu(menu)
        size = session.window_size()
        if size != (e2e.SCREEN_WIDTH * runtime.scale, e2e.SCREEN_HEIGHT * runtime.scale):
            raise e2e.E2EError("%s: the window is %dx%d" % ((runtime.name,) + size))
        pid = session.proc.pid
        menu_cpu = cpu_share(pid, CPU_SAMPLE_S)
        memory = [memory_kb(pid)]
        match_cpu = hold_cpu = None
        for match in range(1, matches + 1):
            session.press("Down")
            session.press("Return")  # 2 PLAYERS; nobody steers
            session.wait_for_line(game_test.EXITING_MENU, match)
            session.wait_for_screen(match_on, "match %d" % match)
            if match_cpu is None:
                match_cpu = cpu_share(pid, CPU_SAMPLE_S)
                session.press("p")
                session.wait_for_screen(lambda image: game_test.shows_banner(
                    image, game_test.HOLD_BANNER, game_test.HOLD_BANNER_AT), "the hold")
                hold_cpu = cpu_share(pid, CPU_SAMPLE_S)
                session.press("p")
            else:
                time.sleep(MEMORY_MATCH_S)
            session.press("Escape")
            session.wait_for_menu(menu, match + 1)
            memory.append(memory_kb(pid))
        session.leave_from_fresh_menu(menu, matches + 1)
        session.finish(check=True)
    return menu_cpu, match_cpu, hold_cpu, memory


# ---------------------------------------------------------------------------
# Speeds (bench-pacing)


def speeds(build):
    """{"ball": (measured, nominal), "paddle": (...)} in pixels per 60 ms."""
    run = subprocess.run([os.path.join(build, "bench-pacing")], stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                         timeout=60)
    found = {}
    for what in ("ball", "paddle"):
        match = re.search(r"^%s speed:\s+([\d.]+) px per 60 ms \(nominal ([\d.]+)" % what,
                          run.stdout, re.M)
        if match is None:
            raise e2e.E2EError("bench-pacing printed no %s speed: %r" % (what, run.stdout))
        found[what] = (float(match.group(1)), float(match.group(2)))
    return found


# ---------------------------------------------------------------------------


PROGRAMS = ("korrin-tavrel", "bench-frames", "bench-pacing")


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    command = ["cmake", "--build", build, "--target"] + list(PROGRAMS)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        sys.exit("%s is not a configured build directory: cmake -S %s -B %s, then %s"
                 % (build, ROOT, build, " ".join(command)))
    progress(" ".join(command))
    if subprocess.run(command, stdin=subprocess.DEVNULL, stdout=sys.stderr).returncode != 0:
        sys.exit("the build failed: " + " ".join(command))

    progress("start-up, %d runs" % STARTUP_RUNS)
    startups = startup_ms(build)
    progress("CPU share and memory: the menu, then %d two-player matches" % MEMORY_MATCHES)
    menu_cpu, match_cpu, hold_cpu, memory = cpu_and_memory(build, CLASSIC, MEMORY_MATCHES)
    cpu = {CLASSIC: (menu_cpu, match_cpu, hold_cpu)}
    renderers = {}
    for runtime in RUNTIMES[1:]:
        progress("CPU share on %s: the menu, then a two-player match, on hold and off"
                 % runtime.name)
        renderers[runtime] = renderer(runtime)
        cpu[runtime] = cpu_and_memory(build, runtime, 1)[:3]
    progress("match frames, %d" % MATCH_FRAMES)
    mean_us, median_us = frame_wall_us(build)
    progress("match frames under callgrind, %d" % CALLGRIND_FRAMES)
    instructions = frame_instructions(build)
    progress("frame pacing (bench-pacing)")
    measured_speeds = speeds(build)

    rows = []  # (figure, measured, target, met: True, False or None)
    startup = statistics.median(startups)
    rows.append(("Start-up to the first menu frame",
                 "%.0f ms (median of %d, %.0f to %.0f)"
                 % (startup, len(startups), min(startups), max(startups)),
                 "< %d ms" % STARTUP_LIMIT_MS, startup < STARTUP_LIMIT_MS))
    for runtime in RUNTIMES:
        how = runtime.name + (", %s renderer" % renderers[runtime] if runtime in renderers else "")
        for where, share in zip(("menu", "match", "match paused"), cpu[runtime]):
            measured = "%.1f %% of one core (%.0f s)" % (share, CPU_SAMPLE_S)
            if runtime is CLASSIC:
                rows.append(("CPU, %s (%s)" % (where, how), measured,
                             "< %.0f %%" % CPU_LIMIT, share < CPU_LIMIT))
            else:
                rows.append(("CPU, %s (%s)" % (where, how), measured, "", None))
    rows.append(("Match frame, wall time",
                 "%.0f µs mean, %.0f µs median (%d frames)" % (mean_us, median_us, MATCH_FRAMES),
                 "< %d µs" % FRAME_LIMIT_US, round(mean_us) < FRAME_LIMIT_US))
    rows.append(("Match frame, instructions",
                 "not measured: valgrind is not installed" if instructions is None else
                 "{:,.0f} (callgrind, {} frames)".format(instructions, CALLGRIND_FRAMES),
                 "", None))
    peak_mb = memory[-1][1] / 1024.0
    first, last = memory[1], memory[-1]
    flat = last[0] - first[0] <= FLAT_KB and last[1] - first[1] <= FLAT_KB
    rows.append(("Peak resident memory (VmHWM)",
                 "%.1f MB; RSS in the menu %s MB" % (peak_mb, ", ".join(
                     "%.1f" % (rss / 1024.0) for rss, _ in memory)),
                 "< %d MB, flat" % MEMORY_LIMIT_MB, peak_mb < MEMORY_LIMIT_MB and flat))
    for what, (speed, nominal) in measured_speeds.items():
        rows.append(("%s speed" % what.capitalize(),
                     "%.2f px per 60 ms (nominal %g)" % (speed, nominal),
                     "± %.0f %%" % (SPEED_TOLERANCE * 100),
                     abs(speed - nominal) <= nominal * SPEED_TOLERANCE))

    print("Machine: %s; %s build." % (machine(), build_type(build)))
    print("Memory: the menu before the first match and after each of %d two-player "
          "matches; %s." % (MEMORY_MATCHES, "flat" if flat else "NOT FLAT"))
    print()
    print("| Figure | Measured | Target | |")
    print("|---|---|---|---|")
    for figure, measured, target, met in rows:
        verdict = "" if met is None else ("ok" if met else "**missed**")
        print("| %s | %s | %s | %s |" % (figure, measured, target, verdict))
    return 0 if all(met is not False for *_, met in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
