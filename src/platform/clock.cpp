// The loops' pace and the local frame's length.
#include "clock.h"

#include <SDL.h>

#include "match.h"

namespace {
// A restarted clock's first frame counts this long since an imagined
// previous one.
constexpr Uint32 FIRST_FRAME_MS = 30;
// The clock reading of the previous frame, from which the next is measured.
Uint32 lastFrameTime = 0;
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

void restartFrameClock() { lastFrameTime = SDL_GetTicks() - FIRST_FRAME_MS; }

int measureFrameMs() {
    if (resetGame != 0) {
        restartFrameClock();
        resetGame = 0;
    }
    const Uint32 now = SDL_GetTicks(); // the time of this frame
    // The difference is taken modulo 2^32, so a wrap of the clock still gives
    // the true elapsed time.
    const int elapsedMs = static_cast<Sint32>(now - lastFrameTime);
    lastFrameTime = now;
    return elapsedMs > LONGEST_FRAME_MS ? static_cast<int>(FIRST_FRAME_MS) : elapsedMs;
}
