// The sounds of an online match's frames while they may still be run again:
// those each frame's last run made and those heard, so that a correction
// plays what it revealed if it is recent, and each settled frame is counted:
// its sounds, those never heard, those heard from a guess that proved wrong.
#pragma once

#include <cstdint>
#include <vector>

#include "match.h"

// A sound that a correction reveals plays late only if its frame is at most
// this many frames old (330 ms), deeper than the corrections of a 250 ms
// round trip with loss.
constexpr uint32_t LATE_SOUND_FRAMES = 15;

struct SoundFigures {
    uint32_t sounds = 0;  // of the settled frames
    uint32_t missing = 0; // never heard
    uint32_t wrong = 0;   // heard from a guess that proved wrong
    uint32_t late = 0;    // played late, after a correction
};

class SoundLedger {
  public:
    // window: the frames kept, more than a correction can reach back.
    explicit SoundLedger(uint32_t window);

    // Frame f ran for the first time, and its sounds play now.
    void ran(uint32_t frame, FrameSounds sounds);
    // A correction ran frames first to first + rerun.size() - 1 again, with
    // these sounds, and the match is now at frame present: the sounds it
    // revealed that are recent enough to play now.
    FrameSounds rerun(uint32_t first, const std::vector<FrameSounds> &rerun, uint32_t present);
    // Frame f is settled: its sounds are counted.
    void settle(uint32_t frame);

    const SoundFigures &figures() const { return figures_; }

  private:
    struct Slot {
        uint32_t frame = UINT32_MAX;
        FrameSounds ran = 0;
        FrameSounds heard = 0;
    };
    std::vector<Slot> slots_; // by frame % their number
    SoundFigures figures_;
};
