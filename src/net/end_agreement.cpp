// The agreed end of an online match.
#include "end_agreement.h"

#include <algorithm>

void EndAgreement::reach(Verdict verdict, uint32_t frame, uint32_t nowMs) {
    if (own_ != Verdict::None)
        return;
    own_ = verdict;
    ownFrame_ = verdict == Verdict::SyncLost ? frame : 0;
    reachedMs_ = nowMs;
}

void EndAgreement::hear(Verdict verdict, uint32_t lostFrame, bool ended, uint32_t nowMs) {
    if (verdict != Verdict::None && peer_ == Verdict::None) {
        peer_ = verdict;
        peerFrame_ = lostFrame;
    }
    peerEnded_ = peerEnded_ || ended;
    // The other side saw the matches differ: so do we, if we had not yet.
    if (peer_ == Verdict::SyncLost)
        reach(Verdict::SyncLost, peerFrame_, nowMs);
}

uint32_t EndAgreement::lostFrame() const {
    if (own_ == Verdict::SyncLost && peer_ == Verdict::SyncLost)
        return std::min(ownFrame_, peerFrame_);
    return own_ == Verdict::SyncLost ? ownFrame_ : peerFrame_;
}
