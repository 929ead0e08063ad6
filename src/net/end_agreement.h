// The end of an online match, agreed as its start is: each side's verdict
// (packets.h), sent in every packet once reached. The match ends once both
// are known, the same way on both sides: finished when both agree, a lost
// sync at the earlier of the frames the two found otherwise.
#pragma once

#include <cstdint>

#include "packets.h"

class EndAgreement {
  public:
    // This side's verdict on the end, at nowMs: the first one stands.
    void reach(Verdict verdict, uint32_t frame, uint32_t nowMs);
    // What the other side's packet says: its verdict (its first one stands;
    // a lost sync it found is this side's too) and whether it holds ours.
    void hear(Verdict verdict, uint32_t lostFrame, bool ended, uint32_t nowMs);

    Verdict own() const { return own_; }
    uint32_t ownFrame() const { return ownFrame_; }
    uint32_t reachedMs() const { return reachedMs_; }
    bool peerEnded() const { return peerEnded_; }
    // Both verdicts are known; then the match finished if both agreed, and
    // otherwise lost its sync at lostFrame().
    bool decided() const { return own_ != Verdict::None && peer_ != Verdict::None; }
    bool agreed() const { return own_ == Verdict::Agreed && peer_ == Verdict::Agreed; }
    uint32_t lostFrame() const;

  private:
    Verdict own_ = Verdict::None;
    uint32_t ownFrame_ = 0;
    uint32_t reachedMs_ = 0;
    Verdict peer_ = Verdict::None;
    uint32_t peerFrame_ = 0;
    bool peerEnded_ = false;
};
