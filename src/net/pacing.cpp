// When an online match's frames are due.
#include "pacing.h"

#include <algorithm>
#include <cmath>

#include "rollback.h"

namespace {
constexpr uint32_t FRAME_MS = FRAME_PERIOD_MS;
// While a side runs this many frames ahead of the other, each of its frames
// waits this much longer, until the other has caught up: it mends a start
// whose trip was misjudged and clocks that drift. A stall is mended by the
// schedule itself, the side behind running its due frames at once.
constexpr double AHEAD_LIMIT_FRAMES = 1.0;
constexpr uint32_t AHEAD_WAIT_MS = 3;
// The weight of a new reading in the smoothed lead over the other side.
constexpr double AHEAD_SMOOTHING = 0.1;
} // namespace

void Pacing::start(uint32_t startMs, uint32_t roundTripMs) {
    startMs_ = startMs;
    shortestRoundTripMs_ = roundTripMs;
}

uint32_t Pacing::msUntilDue(uint32_t frame, uint32_t nowMs) const {
    const uint32_t due = startMs_ + frame * FRAME_MS + shiftMs_;
    return static_cast<int32_t>(nowMs - due) >= 0 ? 0 : due - nowMs;
}

void Pacing::ranFrame() {
    if (aheadFrames_ > AHEAD_LIMIT_FRAMES)
        shiftMs_ += AHEAD_WAIT_MS;
}

void Pacing::heard(uint32_t silenceMs, uint32_t frames, uint32_t nowMs) {
    if (silenceMs < STALL_FIGURE_MS)
        return;
    gapEndMs_ = nowMs;
    gapFrames_ = frames;
    inGap_ = true;
}

// How far this side runs ahead of the other: our frames against the
// other's when it sent, plus the frames that passed while the packet
// travelled. A packet older than one already heard, or sent while the other
// side waited at the end of its window for us, says nothing of its pace.
void Pacing::measureLead(const InputsPacket &inputs, uint32_t frames, uint32_t linkRoundTripMs,
                         uint32_t nowMs) {
    const bool senderWaited = inputs.senderFrames >= inputs.receivedFrames + MAX_PREDICTION_FRAMES;
    if (inputs.senderFrames < peerFrames_ || senderWaited)
        return;
    peerFrames_ = inputs.senderFrames;
    // The shortest round trip seen: a stall inflates the link's smoothed one for seconds.
    shortestRoundTripMs_ = std::min(shortestRoundTripMs_, linkRoundTripMs);
    const double travelFrames = shortestRoundTripMs_ / 2.0 / FRAME_MS;
    const double ahead = static_cast<double>(frames) - (inputs.senderFrames + travelFrames);
    aheadFrames_ += AHEAD_SMOOTHING * (ahead - aheadFrames_);
    // Packets sent before the gap ended (a stopped side reads them all at
    // once) say nothing of how soon the two were back in step.
    const bool sentAfterGap = inputs.receivedFrames > gapFrames_;
    // Whole frames apart: a side steadily 2 frames ahead is in step, whatever
    // the fraction of a frame the trip's estimate adds.
    const long apart = std::lround(ahead);
    if (inGap_ && sentAfterGap && apart <= IN_STEP_FRAMES && apart >= -IN_STEP_FRAMES) {
        inGap_ = false;
        inStepAfterStallMs_ = std::max(inStepAfterStallMs_, nowMs - gapEndMs_);
    }
}

void Pacing::waiting(uint32_t nowMs) {
    if (!stalled_)
        stallStartMs_ = nowMs;
    stalled_ = true;
}

void Pacing::running(uint32_t nowMs) {
    if (stalled_ && nowMs - stallStartMs_ > FRAME_MS)
        ++longStalls_;
    stalled_ = false;
}
