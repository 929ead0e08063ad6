// Pictures in the browser: one at each refresh of the display, between the
// frames, which keep their own pace (library/frame.js waits for the refresh).
#include <emscripten.h>

#include <algorithm>

#include "commands.h"
#include "refresh.h"

extern "C" {
int korrin_wait_for_refresh(Uint32 ms);
int korrin_refresh_came();
double korrin_refreshed_at();
}

namespace {
// A picture eases a correction over six refreshes of a 60 Hz display.
constexpr double EASE_MS = 100.0;
// The online loop looks for a refresh this often (the link's own poll step).
constexpr Uint32 LINK_WAIT_MS = 1;

// When the last frame of the local match or replay ran (the refresh's clock).
double lastFrameAt = 0.0;

double phaseSince(double sinceMs) { return std::clamp(sinceMs / FRAME_PERIOD_MS, 0.0, 1.0); }
} // namespace

const double CORRECTION_EASE_MS = EASE_MS;

Wake waitForFrameOrRefresh(const std::function<Uint32()> &msUntilDue) {
    const Uint32 left = msUntilDue();
    const bool refreshed = left > 0 && korrin_wait_for_refresh(left) != 0;
    const double at = refreshed ? korrin_refreshed_at() : emscripten_get_now();
    if (msUntilDue() > 0)
        return {false, refreshed, phaseSince(at - lastFrameAt), at};
    lastFrameAt = emscripten_get_now();
    return {true, refreshed, 0.0, at}; // the picture shows the frame before
}

Uint32 linkWaitMs(Uint32 waitMs) { return std::min(waitMs, LINK_WAIT_MS); }

Wake pictureAfterFrames(bool framesRan, Uint32 msUntilDue) {
    const bool refreshed = korrin_refresh_came() != 0;
    return {framesRan, refreshed, phaseSince(FRAME_PERIOD_MS - static_cast<double>(msUntilDue)),
            korrin_refreshed_at()};
}
