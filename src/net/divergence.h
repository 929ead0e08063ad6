// Whether the two sides' matches have parted: a running checksum of both
// players' inputs after each settled frame, and the hashes of settled states
// (every HASH_INTERVAL_FRAMES frames and the end), this side's and the
// other's as its packets carry them.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "commands.h"

// About one second of frames between two hashes of the settled state.
constexpr uint32_t HASH_INTERVAL_FRAMES = 45;

// What comparing the two sides' hashes of the same frames found.
enum class HashComparison { Unknown, Same, Different };

class DivergenceChecks {
  public:
    // window: the frames whose checksums are kept, as far back as the other
    // side's may lag.
    explicit DivergenceChecks(uint32_t window);

    // The next settled frame (settledFrames()) with both players' inputs.
    void settle(const FrameInput &inputs);
    uint32_t settledFrames() const { return settled_; }
    // The checksum of the inputs of frames 0 to settledFrames() - 1.
    uint32_t inputsCheck() const;

    // This side's hash of the state after frame hashedFrames - 1, just settled.
    HashComparison hashLocal(uint32_t hashedFrames, uint64_t hash);
    // What the other side's packet says: its newest checksum and hash.
    void hearChecksum(uint32_t checkedFrames, uint32_t check);
    HashComparison hearHash(uint32_t hashedFrames, uint64_t hash);
    // The other side's newest checksum against ours of the same frames, once
    // settled here (and while kept): the frame it names when they differ,
    // as parted is true.
    bool inputsParted(uint32_t &frame) const;

    // The hash the packets carry: the newest of this side, or the first that
    // differed (so that the other side sees the same difference). 0 frames: none.
    uint32_t sentHashFrames() const { return sentHashFrames_; }
    uint64_t sentHash() const;

  private:
    HashComparison compare(uint32_t hashedFrames);

    std::vector<uint32_t> checks_; // after each settled frame, by frame % their number
    uint32_t settled_ = 0;
    uint32_t remoteCheckedFrames_ = 0;
    uint32_t remoteCheck_ = 0;
    std::map<uint32_t, uint64_t> localHashes_; // the newest few, by hashed frames
    std::map<uint32_t, uint64_t> remoteHashes_;
    uint32_t sentHashFrames_ = 0;
};
