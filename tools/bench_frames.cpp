// Start-up and frame-cost probe for tools/benchmark.py, which builds it (it
// is not part of the default build) and runs it under Xvfb from a directory
// holding img/ and snd/. Not a test: timings depend on the machine.
//
//   bench-frames startup
//     Starts the game as the executable does (initRandom, initGame, the menu)
//     and, when the menu's first SDL_Flip returns, prints
//     "first-frame <seconds>" on CLOCK_MONOTONIC and ends the process.
//
//   bench-frames match [FRAMES [WARMUP]]
//     Loads a one-player match and runs WARMUP (default 50), then FRAMES
//     (default 2000) match frames back to back, with no pacing: each frame is
//     runMatchFrame(), the loop's body (keys, update, win check, drawing and
//     the flip). SDL_GetTicks is wrapped so that the game sees 22 ms pass per
//     frame, as in play; player 1 stays idle and the computer plays the right
//     paddle; a won match is laid out afresh instead of showing the game-over
//     screen. Prints "calls", "frames", "mean-us", "median-us" and "max-us"
//     (wall time of the timed frames). Under
//     valgrind --tool=callgrind --toggle-collect=runMatchFrame the collected
//     instructions divided by "calls" are one frame's.
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numeric>
#include <unistd.h>
#include <vector>

#include "game.h"
#include "init.h"
#include "menu.h"
#include "randgen.h"

namespace {
bool startupMode = false;
bool fakeClock = false;
Uint32 fakeNow = 0;
long frameCalls = 0;

int usage() {
    fputs("usage: bench-frames startup | match [FRAMES [WARMUP]]\n", stderr);
    return 2;
}
} // namespace

extern "C" int __real_SDL_Flip(SDL_Surface *screen);
extern "C" Uint32 __real_SDL_GetTicks();

extern "C" int __wrap_SDL_Flip(SDL_Surface *surface) {
    const int result = __real_SDL_Flip(surface);
    if (startupMode) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        printf("first-frame %ld.%09ld\n", static_cast<long>(now.tv_sec), now.tv_nsec);
        fflush(stdout);
        _exit(0);
    }
    return result;
}

extern "C" Uint32 __wrap_SDL_GetTicks() { return fakeClock ? fakeNow : __real_SDL_GetTicks(); }

// One pass of the match loop (startGame's), without the wait for the next
// frame: a copy of the loop's body, to keep in step with it. It is a function
// of its own because callgrind's --toggle-collect counts the instructions of
// a function's calls, and no function of the game's is exactly one frame.
extern "C" __attribute__((noinline)) void runMatchFrame() {
    ++frameCalls;
    updateInputs();
    updateState();
    checkWinConditions();
    drawScreen();
}

int main(int argc, char **argv) {
    if (argc < 2)
        return usage();
    if (strcmp(argv[1], "startup") == 0) {
        startupMode = true;
        initRandom();
        if (initGame() != 0)
            return 1;
        showMenu();
        puts("the menu never drew a frame");
        return 1;
    }
    if (strcmp(argv[1], "match") != 0)
        return usage();
    const long frames = argc > 2 ? atol(argv[2]) : 2000;
    const long warmup = argc > 3 ? atol(argv[3]) : 50;
    if (frames < 1 || warmup < 0)
        return usage();

    initRandom();
    if (initGame() != 0)
        return 1;
    if (loadImages() != 0 || loadSounds() != 0)
        return 1;
    numPlayers = 1;
    quitFlag = 0;
    fakeClock = true;
    fakeNow = 100000;
    resetAll();

    using Clock = std::chrono::steady_clock;
    std::vector<double> microseconds;
    microseconds.reserve(frames);
    for (long i = 0; i < warmup + frames; ++i) {
        fakeNow += FRAME_PERIOD_MS;
        const Clock::time_point start = Clock::now();
        runMatchFrame();
        const Clock::time_point end = Clock::now();
        if (i >= warmup)
            microseconds.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        if (quitFlag != 0) { // a player has five points: the next match
            quitFlag = 0;
            resetAll();
        }
    }
    fakeClock = false;

    const double total = std::accumulate(microseconds.begin(), microseconds.end(), 0.0);
    std::vector<double> sorted = microseconds;
    std::sort(sorted.begin(), sorted.end());
    printf("calls %ld\n", frameCalls);
    printf("frames %ld\n", frames);
    printf("mean-us %.1f\n", total / frames);
    printf("median-us %.1f\n", sorted[sorted.size() / 2]);
    printf("max-us %.1f\n", sorted.back());
    quitGame();
    return 0;
}
