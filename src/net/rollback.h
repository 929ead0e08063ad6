// Rollback for a match fed by two machines: the local player's inputs apply in
// the frame they are read, the other player's are predicted (the last known
// repeated) until they arrive; when one arrives that differs from its
// prediction, the match goes back to the state before that frame and runs
// again, with the true inputs, up to the present. Pure logic over the match's
// frame (runFrame) and its snapshots: no clock, no network. Every frame lasts
// FRAME_PERIOD_MS on both machines. Each side's inputs are frame buttons of
// its own player only (playerButtons); a frame's commands are both sides'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "match.h"
#include "snapshot.h"

// How far the local side may run ahead of the other player's last known
// input: 40 frames of 22 ms are 880 ms, well beyond a 250 ms round trip.
constexpr uint32_t MAX_PREDICTION_FRAMES = 40;
// The frames whose inputs and states are kept, more than twice the window:
// the other player's inputs may claim slots MAX_PREDICTION_FRAMES ahead
// while ours wait for their acknowledgement behind.
constexpr uint32_t HISTORY_FRAMES = 128;
static_assert(HISTORY_FRAMES > 2 * MAX_PREDICTION_FRAMES, "the ring must hold the window");

class Rollback {
  public:
    // localSide: 0 (the host, left paddle) or 1 (the joining side, right paddle).
    // The match must have been started (startMatch) before the first advance.
    explicit Rollback(int localSide);

    // Frames run so far; the next frame to run has this number.
    uint32_t frames() const { return frames_; }
    // Frames of the other player whose inputs are known (0 to n - 1).
    uint32_t remoteFrames() const { return remoteFrames_; }
    // Frames whose inputs from both sides are known and whose state is final.
    uint32_t settledFrames() const;

    // False while the local side is MAX_PREDICTION_FRAMES ahead of what it
    // knows of the other player, or the match has ended in the frames run.
    bool canAdvance() const;
    // The other side holds the local inputs of frames 0 to localFrames - 1,
    // as its newest packet says; the local side keeps the rest for the
    // packets that repeat them. An acknowledgement lower than the one before
    // is taken too (the one before may have been forged), unless it names
    // inputs no longer kept: that one comes from a stale packet.
    void acknowledge(uint32_t localFrames);
    uint32_t acknowledgedFrames() const { return acknowledged_; }
    // Runs the next frame with the local player's buttons and the other
    // player's known or predicted ones; returns the frame's sounds.
    FrameSounds advance(uint8_t localInput);

    // Takes the other player's inputs for frames first to first + n - 1.
    // Frames already known must repeat what is known; frames beyond the next
    // unknown one are ignored (a later packet repeats them). Fails, taking
    // nothing, for inputs that contradict what is known, press another
    // player's buttons or lie beyond MAX_PREDICTION_FRAMES past the local
    // side's frames.
    Status receiveRemote(uint32_t first, const uint8_t *inputs, size_t count);
    // Runs again, from the first frame whose prediction was wrong up to the
    // present, putting each frame's sounds in rerun (the first frame run
    // again is frames() minus their number). Returns the number of frames
    // run again.
    uint32_t correct(std::vector<FrameSounds> &rerun);

    // The local inputs the other side has not acknowledged, at most max of
    // them, for the next packet.
    std::vector<uint8_t> unacknowledgedInputs(size_t max) const;

    // The match has ended in a settled frame (the end both sides see).
    bool settledEnd() const;
    // The state's hash after settled frame f (f < settledFrames(), no older
    // than the prediction window); the present state stays as it was.
    uint64_t settledHash(uint32_t frame) const;
    // Both players' inputs of frame f as it was last run: the true ones once
    // f < settledFrames() (what a recording keeps).
    FrameInput inputsOf(uint32_t frame) const;
    // The other player's input carried BUTTON_LEAVE in the last settled frame.
    bool remoteLeft() const;
    // The frame the match ended in, once settledEnd().
    uint32_t endFrame() const { return endFrame_; }
    // Not ok once a slot was read for a frame it no longer holds (a fault of
    // the game's own code), saying which: the match from there is not to be
    // trusted (the session ends it as a lost sync).
    const Status &fault() const { return fault_; }

  private:
    // Local inputs kept unacknowledged at most: the other player's inputs,
    // up to MAX_PREDICTION_FRAMES ahead, claim the slots behind them.
    static constexpr uint32_t UNACKNOWLEDGED_KEPT = HISTORY_FRAMES - MAX_PREDICTION_FRAMES - 1;

    // What the rings keep of one frame: each side's input (the other
    // player's predicted one where unknown) and the state before it. The
    // frame number tells a slot of this frame from one of a frame
    // HISTORY_FRAMES away.
    struct Slot {
        uint32_t frame = NO_FRAME;
        uint8_t local = 0;
        uint8_t remote = 0;
        MatchSnapshot before = {};
    };
    static constexpr uint32_t NO_FRAME = UINT32_MAX;

    // Runs frame f from the present state, keeping the state before it.
    FrameSounds runFrom(uint32_t frame);
    uint8_t predictedRemote() const;
    // The slot of frame f, to write: claimed for f if it held another frame.
    Slot &claim(uint32_t frame);
    // The slot of frame f, to read. Reading one that holds another frame
    // keeps the first such fault.
    const Slot &slot(uint32_t frame) const;
    bool holds(uint32_t frame) const { return slots_[frame % HISTORY_FRAMES].frame == frame; }

    int localSide_;
    uint32_t frames_ = 0;
    uint32_t remoteFrames_ = 0;
    uint32_t acknowledged_ = 0;
    // The first frame run with a prediction that proved wrong, when there is one.
    uint32_t firstWrong_ = 0;
    bool wrongPrediction_ = false;
    // Indexed by frame % HISTORY_FRAMES.
    Slot slots_[HISTORY_FRAMES];
    // The frame the match ended in (quitFlag set by it), or none.
    bool ended_ = false;
    uint32_t endFrame_ = 0;
    mutable Status fault_;
};
