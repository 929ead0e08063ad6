// Rollback over the match's frame and its snapshots.
#include "rollback.h"

#include <algorithm>
#include <string>

Rollback::Rollback(int localSide) : localSide_(localSide) {}

uint32_t Rollback::settledFrames() const {
    return wrongPrediction_ ? firstWrong_ : std::min(remoteFrames_, frames_);
}

bool Rollback::canAdvance() const {
    // The other player's inputs reach MAX_PREDICTION_FRAMES past ours: a slot
    // they claim must not be one of our inputs still to be sent.
    return !ended_ && frames_ < remoteFrames_ + MAX_PREDICTION_FRAMES &&
           frames_ - std::min(acknowledged_, frames_) < UNACKNOWLEDGED_KEPT;
}

void Rollback::acknowledge(uint32_t localFrames) {
    if (frames_ - std::min(localFrames, frames_) <= UNACKNOWLEDGED_KEPT)
        acknowledged_ = localFrames;
}

FrameSounds Rollback::advance(uint8_t localInput) {
    const uint32_t frame = frames_;
    const bool remoteKnown = frame < remoteFrames_;
    Slot &next = claim(frame);
    next.local = localInput;
    if (!remoteKnown)
        next.remote = predictedRemote();
    return runFrom(frame);
}

Status Rollback::receiveRemote(uint32_t first, const uint8_t *inputs, size_t count) {
    if (first + count > frames_ + MAX_PREDICTION_FRAMES)
        return {"inputs up to frame " + std::to_string(first + count) +
                " lie beyond the prediction window of frame " + std::to_string(frames_)};
    // The other player presses only their own buttons, and what is known
    // (and still kept) must not change: a packet saying otherwise is not to
    // be trusted at all.
    const uint8_t remoteButtons = playerButtons(1 - localSide_);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t frame = first + static_cast<uint32_t>(i);
        if ((inputs[i] & ~remoteButtons) != 0)
            return {"the input of frame " + std::to_string(frame) +
                    " presses another player's buttons"};
        if (frame < remoteFrames_ && holds(frame) && slot(frame).remote != inputs[i])
            return {"the input of frame " + std::to_string(frame) + " changes a known one"};
    }
    for (size_t i = 0; i < count; ++i) {
        const uint32_t frame = first + static_cast<uint32_t>(i);
        if (frame != remoteFrames_)
            continue;
        Slot &known = claim(frame);
        // Frames arrive in order: the first wrong one is the earliest.
        if (frame < frames_ && known.remote != inputs[i] && !wrongPrediction_) {
            wrongPrediction_ = true;
            firstWrong_ = frame;
        }
        known.remote = inputs[i];
        ++remoteFrames_;
    }
    return {};
}

uint32_t Rollback::correct(std::vector<FrameSounds> &rerun) {
    rerun.clear();
    if (!wrongPrediction_)
        return 0;
    wrongPrediction_ = false;
    const uint32_t from = firstWrong_;
    const uint32_t to = frames_;
    restoreMatch(slot(from).before);
    frames_ = from;
    ended_ = false;
    const uint8_t prediction = predictedRemote();
    for (uint32_t frame = from; frame < to && !ended_; ++frame) {
        if (frame >= remoteFrames_)
            claim(frame).remote = prediction;
        rerun.push_back(runFrom(frame));
    }
    return frames_ - from;
}

std::vector<uint8_t> Rollback::unacknowledgedInputs(size_t max) const {
    std::vector<uint8_t> inputs;
    for (uint32_t frame = acknowledged_; frame < frames_ && inputs.size() < max; ++frame)
        inputs.push_back(slot(frame).local);
    return inputs;
}

bool Rollback::settledEnd() const {
    return ended_ && !wrongPrediction_ && remoteFrames_ > endFrame_;
}

uint64_t Rollback::settledHash(uint32_t frame) const {
    if (frame + 1 >= frames_)
        return matchHash();
    const MatchSnapshot present = saveMatch();
    restoreMatch(slot(frame + 1).before);
    const uint64_t hash = matchHash();
    restoreMatch(present);
    return hash;
}

FrameInput Rollback::inputsOf(uint32_t frame) const {
    const Slot &inputs = slot(frame);
    return decodeFrameInput(inputs.local | inputs.remote);
}

bool Rollback::remoteLeft() const {
    return settledEnd() && (slot(endFrame_).remote & BUTTON_LEAVE) != 0;
}

FrameSounds Rollback::runFrom(uint32_t frame) {
    slot(frame); // the inputs are in place
    slots_[frame % HISTORY_FRAMES].before = saveMatch();
    const FrameSounds sounds = runFrame(inputsOf(frame), FRAME_PERIOD_MS);
    frames_ = frame + 1;
    if (quitFlag != 0) {
        ended_ = true;
        endFrame_ = frame;
    }
    return sounds;
}

uint8_t Rollback::predictedRemote() const {
    // The other player keeps holding what they held; nobody is predicted to leave.
    if (remoteFrames_ == 0)
        return 0;
    return static_cast<uint8_t>(slot(remoteFrames_ - 1).remote & ~BUTTON_LEAVE);
}

Rollback::Slot &Rollback::claim(uint32_t frame) {
    Slot &claimed = slots_[frame % HISTORY_FRAMES];
    if (claimed.frame != frame)
        claimed = Slot{frame, 0, 0, {}};
    return claimed;
}

const Rollback::Slot &Rollback::slot(uint32_t frame) const {
    const Slot &kept = slots_[frame % HISTORY_FRAMES];
    if (kept.frame != frame && fault_.ok())
        fault_.error = "rollback read frame " + std::to_string(frame) + " from a slot of frame " +
                       std::to_string(kept.frame);
    return kept;
}
