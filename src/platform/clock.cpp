// The loops' pace and the local frame's length.
#include "clock.h"

#include <SDL.h>

#include "match.h"

namespace {
// The first frame of a match counts this long since an imagined previous one.
constexpr Uint32 FIRST_FRAME_MS = 30;
// A frame longer than this (the process stopped, the machine suspended, the
// window dragged) is not counted: the match carries on as after a hold
// instead, from a restarted clock.
constexpr int STALLED_FRAME_MS = 250;
} // namespace

namespace {
// When the last wait for the next frame returned.
Uint32 lastFrameStart = 0;
} // namespace

Uint32 msUntilNextFrame() {
    const Uint32 elapsed = SDL_GetTicks() - lastFrameStart;
    return elapsed < static_cast<Uint32>(FRAME_PERIOD_MS) ? FRAME_PERIOD_MS - elapsed : 0;
}

void waitForNextFrame() {
    if (const Uint32 left = msUntilNextFrame(); left > 0)
        SDL_Delay(left);
    lastFrameStart = SDL_GetTicks();
}

int measureFrameMs() {
    static Uint32 lastTime = 0;
    const Uint32 restartReading = SDL_GetTicks();
    if (resetGame != 0) {
        lastTime = restartReading - FIRST_FRAME_MS;
        resetGame = 0;
    }
    const Uint32 now = SDL_GetTicks(); // the time of this frame
    // The difference is taken modulo 2^32, so a wrap of the clock still gives
    // the true elapsed time.
    const int elapsedMs = static_cast<Sint32>(now - lastTime);
    lastTime = now;
    return elapsedMs > STALLED_FRAME_MS ? static_cast<int>(FIRST_FRAME_MS) : elapsedMs;
}
