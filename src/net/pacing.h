// When an online match's frames are due on this side: the match's clock,
// slowed a little while this side runs ahead of the other (measured from
// the other side's packets), the waits for the other side, and how soon the
// two are back in step after a long silence. Time is a number of ms it is
// given; times are compared by their signed difference.
#pragma once

#include <cstdint>

#include "packets.h"

// A silence this long is a stall for the figures, and the two sides count as
// back in step once a packet shows them this many whole frames apart.
constexpr uint32_t STALL_FIGURE_MS = 1000;
constexpr long IN_STEP_FRAMES = 2;

class Pacing {
  public:
    // Frame 0 was due at startMs; roundTripMs: the trip measured by the
    // handshake, or UINT32_MAX for none.
    void start(uint32_t startMs, uint32_t roundTripMs);
    // The ms until frame n is due (0: it is).
    uint32_t msUntilDue(uint32_t frame, uint32_t nowMs) const;
    // A frame ran: while this side runs ahead, the next one waits longer.
    void ranFrame();

    // The other side's packet, after a silence of silenceMs, while this side
    // has run frames: a long silence is a stall to be back in step from.
    void heard(uint32_t silenceMs, uint32_t frames, uint32_t nowMs);
    // What the packet says of the other side's pace; linkRoundTripMs: the
    // link's own smoothed measure.
    void measureLead(const InputsPacket &inputs, uint32_t frames, uint32_t linkRoundTripMs,
                     uint32_t nowMs);

    // A frame due here waits for the other side, or runs again.
    void waiting(uint32_t nowMs);
    void running(uint32_t nowMs);

    double aheadFrames() const { return aheadFrames_; }
    int longStalls() const { return longStalls_; }
    uint32_t inStepAfterStallMs() const { return inStepAfterStallMs_; }

  private:
    // Frame n is due at startMs_ + n frames + shiftMs_.
    uint32_t startMs_ = 0;
    uint32_t shiftMs_ = 0;
    double aheadFrames_ = 0.0;
    uint32_t peerFrames_ = 0; // the other side's frames in its newest packet
    uint32_t shortestRoundTripMs_ = UINT32_MAX;
    bool stalled_ = false;
    uint32_t stallStartMs_ = 0;
    int longStalls_ = 0; // waits for the other side longer than a frame
    // Since gapEndMs_, after a long silence, not yet in step; only packets
    // that hold inputs of ours later than gapFrames_ were sent after it.
    bool inGap_ = false;
    uint32_t gapEndMs_ = 0;
    uint32_t gapFrames_ = 0;
    uint32_t inStepAfterStallMs_ = 0;
};
