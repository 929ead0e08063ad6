// Pictures natively: one for each frame, showing it as it stands.
#include "refresh.h"

const double CORRECTION_EASE_MS = 0.0;

Wake waitForFrameOrRefresh(const std::function<Uint32()> &msUntilDue) {
    if (const Uint32 left = msUntilDue(); left > 0)
        SDL_Delay(left);
    return {true, true, 1.0, static_cast<double>(SDL_GetTicks())};
}

Uint32 linkWaitMs(Uint32 waitMs) { return waitMs; }

Wake pictureAfterFrames(bool framesRan, Uint32) {
    return {framesRan, framesRan, 1.0, static_cast<double>(SDL_GetTicks())};
}
