// The sounds of the frames in the prediction window.
#include "sound_ledger.h"

#include <bitset>

namespace {
uint32_t countSounds(FrameSounds sounds) {
    return static_cast<uint32_t>(std::bitset<8>(sounds).count());
}
} // namespace

SoundLedger::SoundLedger(uint32_t window) : slots_(window) {}

void SoundLedger::ran(uint32_t frame, FrameSounds sounds) {
    slots_[frame % slots_.size()] = Slot{frame, sounds, sounds};
}

FrameSounds SoundLedger::rerun(uint32_t first, const std::vector<FrameSounds> &rerun,
                               uint32_t present) {
    FrameSounds playNow = 0;
    for (uint32_t i = 0; i < rerun.size(); ++i) {
        const uint32_t frame = first + i;
        Slot &slot = slots_[frame % slots_.size()];
        if (slot.frame != frame)
            slot = Slot{frame, 0, 0};
        slot.ran = rerun[i];
        const FrameSounds late = slot.ran & ~slot.heard;
        if (late != 0 && present - frame <= LATE_SOUND_FRAMES) {
            playNow |= late;
            slot.heard |= late;
            figures_.late += countSounds(late);
        }
    }
    return playNow;
}

void SoundLedger::settle(uint32_t frame) {
    const Slot &slot = slots_[frame % slots_.size()];
    if (slot.frame != frame)
        return;
    figures_.sounds += countSounds(slot.ran);
    figures_.missing += countSounds(slot.ran & ~slot.heard);
    figures_.wrong += countSounds(slot.heard & ~slot.ran);
}
