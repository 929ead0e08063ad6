// Rollback: however late and in whatever bursts the other player's inputs
// arrive, the settled frames are exactly those of a plain run of the true
// inputs. Rollback runs on the rules alone: this program links no SDL
// library. (Which of a frame's sounds play is the session's: test_session.)
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "randgen.h"
#include "rollback.h"
#include "snapshot.h"

namespace {
constexpr int32_t SEED = 20261208;
constexpr uint32_t NOBODY_LEAVES = UINT32_MAX;
constexpr uint32_t CUT_FRAMES = 400, WHOLE_MATCH_FRAMES = 5000;
constexpr uint32_t END_FRAME = UINT32_MAX - 1; // the frame the match ends in

// How the other player's inputs reach the local side, and what they are.
struct Delivery {
    const char *name;
    int localSide;
    int delayFrames;     // the input of frame f arrives delayFrames ticks after f (or before)
    uint32_t burstTicks; // and only every burstTicks ticks (the packets between are lost)
    uint32_t holdFrames; // the other player changes keys every holdFrames frames
    uint32_t leaveFrame; // the other player leaves in this frame, or NOBODY_LEAVES
    bool ends;           // the match ends (else it is cut at CUT_FRAMES)
    // The other player presses up in this frame alone, after its paddle rested
    // at the bottom: no prediction foresees it (END_FRAME: the match's last).
    uint32_t turnFrame = NOBODY_LEAVES;
};

// The buttons of one side: the local player a pattern of its own, so that
// both move; each side presses its own player's buttons.
uint8_t keysOf(const Delivery &d, int side, uint32_t frame) {
    constexpr uint8_t UP = BUTTON_UP_1 | BUTTON_UP_2, DOWN = BUTTON_DOWN_1 | BUTTON_DOWN_2;
    constexpr uint8_t LOCAL[] = {0, UP, UP, 0, DOWN};
    constexpr uint8_t REMOTE[] = {DOWN, 0, UP, UP | DOWN, UP};
    const uint8_t keys = side == d.localSide     ? LOCAL[frame / 13 % 5]
                         : frame == d.leaveFrame ? uint8_t{BUTTON_LEAVE}
                         : frame == d.turnFrame  ? UP
                                                 : REMOTE[frame / d.holdFrames % 5];
    return keys & playerButtons(side);
}

// The plain run of the true inputs: the hash after every frame, up to the end or the cut.
std::vector<uint64_t> plainRun(const Delivery &d) {
    std::vector<uint64_t> hashes;
    while (hashes.size() < (d.ends ? WHOLE_MATCH_FRAMES : CUT_FRAMES) && quitFlag == 0) {
        const uint32_t frame = static_cast<uint32_t>(hashes.size());
        runFrame(decodeFrameInput(keysOf(d, 0, frame) | keysOf(d, 1, frame)), FRAME_PERIOD_MS);
        hashes.push_back(matchHash());
    }
    return hashes;
}

void startMatch() { ::startMatch({SEED, 2, 0}); }

class RollbackTest : public ::testing::Test {};

TEST_F(RollbackTest, SettledFramesAreThoseOfAPlainRunOfTheTrueInputs) {
    const Delivery deliveries[] = {
        {"on time", 0, 0, 1, 7, NOBODY_LEAVES, false},
        {"the other player 5 frames ahead", 1, -5, 1, 3, NOBODY_LEAVES, false},
        {"6 frames late, keys changing often", 0, 6, 1, 4, NOBODY_LEAVES, false},
        {"joining side, 12 frames late", 1, 12, 1, 9, NOBODY_LEAVES, false},
        {"30 frames late, one packet in five", 0, 30, 5, 11, NOBODY_LEAVES, false},
        {"beyond the window: the local side waits", 1, 55, 3, 6, NOBODY_LEAVES, false},
        {"the other player leaves, 8 frames late", 0, 8, 2, 5, 150, true},
        {"a whole match to its end, 10 frames late", 1, 10, 4, 40, NOBODY_LEAVES, true},
        {"the end frame's input mispredicted", 0, 10, 4, 40, NOBODY_LEAVES, true, END_FRAME},
    };
    for (Delivery d : deliveries) {
        SCOPED_TRACE(d.name);
        std::vector<uint64_t> unturned;
        if (d.turnFrame == END_FRAME) { // no match reaches it: a plain run finds the end
            startMatch();
            unturned = plainRun(d);
            d.turnFrame = static_cast<uint32_t>(unturned.size()) - 1;
        }
        startMatch();
        const std::vector<uint64_t> expected = plainRun(d);
        const uint32_t lastFrame = static_cast<uint32_t>(expected.size());
        ASSERT_EQ(quitFlag != 0, d.ends);
        ASSERT_TRUE(d.turnFrame == NOBODY_LEAVES ||
                    (d.turnFrame == lastFrame - 1 && expected.back() != unturned.back()))
            << "the turn moved the end, or changed nothing";

        startMatch();
        Rollback rollback(d.localSide);
        uint32_t delivered = 0, checked = 0, rollbacks = 0;
        std::vector<FrameSounds> rerun;
        for (uint32_t tick = 0; checked < lastFrame && tick < 4 * lastFrame; ++tick) {
            if (tick % d.burstTicks == 0) {
                std::vector<uint8_t> inputs;
                for (; int64_t{delivered} + d.delayFrames <= tick && delivered < lastFrame;
                     ++delivered)
                    inputs.push_back(keysOf(d, 1 - d.localSide, delivered));
                const uint32_t first = delivered - static_cast<uint32_t>(inputs.size());
                ASSERT_TRUE(rollback.receiveRemote(first, inputs.data(), inputs.size()).ok());
            }
            rollbacks += rollback.correct(rerun) > 0;
            for (; checked < rollback.settledFrames(); ++checked) {
                ASSERT_EQ(rollback.settledHash(checked), expected[checked])
                    << "settled frame " << checked << " at tick " << tick;
            }
            rollback.acknowledge(rollback.frames());
            if (rollback.canAdvance())
                rollback.advance(keysOf(d, d.localSide, rollback.frames()));
            EXPECT_LE(rollback.frames(), rollback.remoteFrames() + MAX_PREDICTION_FRAMES);
        }
        EXPECT_EQ(checked, lastFrame);
        EXPECT_EQ(rollback.settledEnd(), d.ends);
        if (d.ends) {
            EXPECT_EQ(rollback.frames(), lastFrame);
            EXPECT_EQ(rollback.remoteLeft(), d.leaveFrame != NOBODY_LEAVES);
        }
        if (d.delayFrames > 0) {
            EXPECT_GT(rollbacks, 0u) << "the case never missed a prediction";
        }
    }
}

TEST_F(RollbackTest, InputsThatContradictWhatIsKnownOrLieBeyondTheWindowAreRefused) {
    // The local side hosts: the other player presses player 2's buttons.
    constexpr uint8_t UP = BUTTON_UP_2, DOWN = BUTTON_DOWN_2;
    const uint8_t known[4] = {UP, UP, DOWN, 0};
    const struct {
        const char *name;
        uint32_t first;
        std::vector<uint8_t> inputs;
        bool accepted;
        uint32_t remoteFramesAfter;
    } cases[] = {
        {"a repeat and one new", 2, {DOWN, 0, UP | BUTTON_LEAVE}, true, 5},
        {"after a gap: kept for a later packet", 6, {UP}, true, 4},
        {"a known frame changed", 0, {DOWN}, false, 4},
        {"player 1's buttons", 4, {BUTTON_UP_1}, false, 4},
        {"the window's last frame", MAX_PREDICTION_FRAMES - 1, {0}, true, 4},
        {"past the window", MAX_PREDICTION_FRAMES, {0}, false, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        startMatch();
        Rollback rollback(0);
        ASSERT_TRUE(rollback.receiveRemote(0, known, 4).ok());
        EXPECT_EQ(rollback.receiveRemote(c.first, c.inputs.data(), c.inputs.size()).ok(),
                  c.accepted);
        EXPECT_EQ(rollback.remoteFrames(), c.remoteFramesAfter);
    }
}

TEST_F(RollbackTest, ASlotReadForAFrameItDoesNotHoldMakesItFaulty) {
    startMatch();
    Rollback rollback(0);
    rollback.advance(0);
    rollback.inputsOf(0);
    EXPECT_TRUE(rollback.fault().ok());
    rollback.inputsOf(HISTORY_FRAMES); // the same slot, another frame
    EXPECT_EQ(rollback.fault().error, "rollback read frame 128 from a slot of frame 0");
    rollback.inputsOf(HISTORY_FRAMES + 1); // the first fault is the one kept
    EXPECT_EQ(rollback.fault().error, "rollback read frame 128 from a slot of frame 0");
}

// The newest acknowledgement stands, lower or not, so that a forged one
// costs one packet; one lower than the inputs kept is a stale packet's. The
// local side runs on while fewer than KEPT of its inputs are unacknowledged.
TEST_F(RollbackTest, TheNewestAcknowledgementOfInputsStillKeptStands) {
    constexpr uint32_t FRAMES = 120, KEPT = HISTORY_FRAMES - MAX_PREDICTION_FRAMES - 1;
    // Lower than the one before: the oldest input kept, one no longer kept;
    // past the frames run (a correction ended the match sooner).
    const std::tuple<uint32_t, uint32_t, bool> acknowledgedAfterAndRuns[] = {
        {FRAMES - KEPT + 1, FRAMES - KEPT + 1, true},
        {FRAMES - KEPT, FRAMES - KEPT, false},
        {FRAMES - KEPT - 1, FRAMES, true},
        {FRAMES + 5, FRAMES + 5, true}};
    for (const auto &[acknowledged, after, runs] : acknowledgedAfterAndRuns) {
        SCOPED_TRACE(acknowledged);
        startMatch();
        Rollback rollback(0);
        const uint8_t none = 0;
        for (uint32_t frame = 0; frame < FRAMES; ++frame) {
            ASSERT_TRUE(rollback.receiveRemote(frame, &none, 1).ok());
            rollback.acknowledge(frame);
            rollback.advance(0);
        }
        rollback.acknowledge(FRAMES);
        rollback.acknowledge(acknowledged);
        EXPECT_EQ(rollback.acknowledgedFrames(), after);
        EXPECT_EQ(rollback.canAdvance(), runs);
        rollback.unacknowledgedInputs(MAX_PREDICTION_FRAMES);
        EXPECT_TRUE(rollback.fault().ok());
    }
}
} // namespace
