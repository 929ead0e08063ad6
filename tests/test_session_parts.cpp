// The online session's parts alone: its pacing, the divergence checks, the
// sound ledger and the agreed end.
#include <gtest/gtest.h>

#include <tuple>

#include "divergence.h"
#include "end_agreement.h"
#include "pacing.h"
#include "rollback.h"
#include "sound_ledger.h"

namespace {
constexpr FrameSounds HIT = 1, WALL = 2, SCORE = 4;
constexpr uint32_t WINDOW = 128;
constexpr uint32_t NONE = UINT32_MAX;

FrameInput inputOf(uint32_t frame, uint32_t changedFrame) {
    FrameInput input{};
    input.up[0] = frame % 3 == 0;
    input.down[1] = frame % 5 == 0;
    input.up[1] = frame == changedFrame;
    return input;
}

// After a long silence, the two are back in step when a packet sent after it
// shows them at most 2 whole frames apart; what it says of the other side's
// pace slows this side once it runs more than a frame ahead.
TEST(SessionPacing, InStepAfterAStallAndTheLead) {
    constexpr uint32_t GAP_END_MS = 5000, HEARD_MS = 5300, TRIP_MS = 50; // 8/7 frame each way
    struct Case {
        const char *name;
        uint32_t silenceMs;    // before the packet at GAP_END_MS
        uint32_t sentAfterGap; // its receivedFrames past ours at the gap's end
        int32_t otherAhead;    // its senderFrames past ours, less a frame's trip
        uint32_t inStepMs;     // the figure then
        uint32_t extraWaitMs;  // frame 400 waits this much longer once 10 more have run
    } const cases[] = {
        {"2 frames ahead, steadily", STALL_FIGURE_MS, 1, 2, HEARD_MS - GAP_END_MS, 0},
        {"2 frames behind", STALL_FIGURE_MS, 1, -2, HEARD_MS - GAP_END_MS, 30},
        {"3 frames ahead", STALL_FIGURE_MS, 1, 3, 0, 0},
        {"3 frames behind", STALL_FIGURE_MS, 1, -3, 0, 30},
        {"sent before the gap ended", STALL_FIGURE_MS, 0, 0, 0, 0},
        {"a silence short of a stall", STALL_FIGURE_MS - 1, 1, 0, 0, 0},
        {"a frame behind: no wait", STALL_FIGURE_MS, 1, -1, HEARD_MS - GAP_END_MS, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Pacing pacing;
        pacing.start(0, TRIP_MS);
        const uint32_t frames = 300; // ours, all along
        pacing.heard(c.silenceMs, frames, GAP_END_MS);
        const uint32_t sender = static_cast<uint32_t>(frames - 1 + c.otherAhead);
        for (int packet = 0; packet < 50; ++packet)
            pacing.measureLead({sender, frames + c.sentAfterGap, 0, {}}, frames, TRIP_MS, HEARD_MS);
        EXPECT_EQ(pacing.inStepAfterStallMs(), c.inStepMs);
        const uint32_t due = pacing.msUntilDue(400, 0);
        for (int frame = 0; frame < 10; ++frame)
            pacing.ranFrame();
        EXPECT_EQ(pacing.msUntilDue(400, 0) - due, c.extraWaitMs);
    }
}

TEST(SessionPacing, PacketsThatSayNothingOfThePace) {
    struct Case {
        const char *name;
        InputsPacket packet;
        bool taken;
    } const cases[] = {
        {"newer", {250, 280, 0, {}}, true},
        {"as new", {200, 280, 0, {}}, true},
        {"older", {199, 280, 0, {}}, false},
        {"waiting at its window's end", {250, 250 - MAX_PREDICTION_FRAMES, 0, {}}, false},
        {"a frame short of its window's end", {250, 251 - MAX_PREDICTION_FRAMES, 0, {}}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Pacing pacing;
        pacing.start(0, 0);
        pacing.measureLead({200, 280, 0, {}}, 200, 0, 0); // in step
        pacing.measureLead(c.packet, 300, 0, 0);          // far behind if taken
        EXPECT_EQ(pacing.aheadFrames() > 0.0, c.taken);
    }
}

TEST(SessionDivergence, TheInputsChecksumsNameTheFrameCompared) {
    struct Case {
        const char *name;
        uint32_t settledHere, settledThere, changedThere, partedAt; // partedAt NONE: not parted
    } const cases[] = {
        {"the same", 200, 150, NONE, NONE},
        {"changed in the frames compared", 200, 150, 100, 149},
        {"changed in the last frame compared", 200, 150, 149, 149},
        {"changed after them", 200, 150, 150, NONE},
        {"not settled here yet", 149, 150, 100, NONE},
        {"compared as soon as settled here", 150, 150, 100, 149},
        {"the oldest kept", 150 + WINDOW - 1, 150, 100, 149},
        {"no longer kept", 150 + WINDOW, 150, 100, NONE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DivergenceChecks here(WINDOW), there(WINDOW);
        for (uint32_t frame = 0; frame < c.settledHere; ++frame)
            here.settle(inputOf(frame, NONE));
        for (uint32_t frame = 0; frame < c.settledThere; ++frame)
            there.settle(inputOf(frame, c.changedThere));
        here.hearChecksum(there.settledFrames(), there.inputsCheck());
        here.hearChecksum(1, 0); // an older checksum changes nothing
        uint32_t frame = 0;
        EXPECT_EQ(here.inputsParted(frame) ? frame : NONE, c.partedAt);
    }
}

TEST(SessionDivergence, HashesOfTheSameFramesAreCompared) {
    using H = HashComparison;
    struct Step {
        bool local; // this side's hash, or one heard
        uint32_t hashedFrames;
        uint64_t hash;
        H found;
        uint32_t sentFrames; // the hash the packets then carry (ours: the one just made)
    };
    const auto ours = [](uint32_t frames, uint64_t hash, H found = H::Unknown) {
        return Step{true, frames, hash, found, frames};
    };
    const auto heard = [](uint32_t frames, uint64_t hash, H found, uint32_t sent) {
        return Step{false, frames, hash, found, sent};
    };
    struct Case {
        const char *name;
        std::vector<Step> steps;
    } const cases[] = {
        {"the same, here first", {ours(45, 7), heard(45, 7, H::Same, 45)}},
        {"the same, there first", {heard(45, 7, H::Unknown, 0), ours(45, 7, H::Same)}},
        {"different, and said", {ours(45, 7), ours(90, 8), heard(45, 6, H::Different, 45)}},
        {"heard once",
         {heard(45, 6, H::Unknown, 0), heard(45, 7, H::Unknown, 0), ours(45, 7, H::Different)}},
        {"none for no frames", {ours(45, 7), heard(0, 7, H::Unknown, 45)}},
        {"the newest eight kept",
         {ours(45, 1), ours(90, 2), ours(135, 3), ours(180, 4), ours(225, 5), ours(270, 6),
          ours(315, 7), ours(360, 8), heard(45, 9, H::Different, 45), ours(405, 9),
          heard(90, 9, H::Different, 90), ours(450, 10), ours(495, 11),
          heard(135, 1, H::Unknown, 495)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DivergenceChecks checks(WINDOW);
        for (const Step &step : c.steps) {
            SCOPED_TRACE(step.hashedFrames);
            EXPECT_EQ(step.local ? checks.hashLocal(step.hashedFrames, step.hash)
                                 : checks.hearHash(step.hashedFrames, step.hash),
                      step.found);
            EXPECT_EQ(checks.sentHashFrames(), step.sentFrames);
        }
    }
}

TEST(SessionSoundLedger, CorrectionsPlayWhatTheyRevealWhileRecent) {
    struct Case {
        const char *name;
        FrameSounds ran;   // frame 100's first run, heard then
        FrameSounds rerun; // its run again
        uint32_t present;  // the frames run once corrected
        FrameSounds playNow;
        std::tuple<uint32_t, uint32_t, uint32_t, uint32_t> settled; // sounds, missing, wrong, late
    } const cases[] = {
        {"nothing new", HIT, HIT, 101, 0, {1, 0, 0, 0}},
        {"revealed, recent", 0, WALL, 101, WALL, {1, 0, 0, 1}},
        {"revealed at the limit", 0, WALL, 100 + LATE_SOUND_FRAMES, WALL, {1, 0, 0, 1}},
        {"revealed past the limit", 0, WALL, 101 + LATE_SOUND_FRAMES, 0, {1, 1, 0, 0}},
        {"heard from a wrong guess", HIT, 0, 101, 0, {0, 0, 1, 0}},
        {"one heard, one new", HIT, HIT | SCORE, 105, SCORE, {2, 0, 0, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SoundLedger ledger(WINDOW);
        ledger.ran(100, c.ran);
        std::vector<FrameSounds> again(c.present - 100, 0);
        again[0] = c.rerun;
        EXPECT_EQ(ledger.rerun(100, again, c.present), c.playNow);
        // Played late once: a second correction repeats nothing.
        EXPECT_EQ(ledger.rerun(100, again, c.present), 0);
        ledger.settle(100);
        ledger.settle(100 + WINDOW); // another frame's slot: not counted
        const SoundFigures f = ledger.figures();
        EXPECT_EQ(std::make_tuple(f.sounds, f.missing, f.wrong, f.late), c.settled);
    }
}

TEST(SessionEndAgreement, BothSidesEndTheSameWay) {
    using V = Verdict;
    struct Case {
        const char *name;
        V own, peer;
        uint32_t ownFrame, peerFrame, lostFrame; // lostFrame 0: agreed
    } const cases[] = {
        {"both agree", V::Agreed, V::Agreed, 0, 0, 0},
        {"lost here first", V::SyncLost, V::SyncLost, 90, 100, 90},
        {"lost there first", V::SyncLost, V::SyncLost, 100, 90, 90},
        {"only this side agrees", V::Agreed, V::SyncLost, 0, 44, 44},
        {"only the other agrees", V::SyncLost, V::Agreed, 70, 0, 70},
        {"the other's loss taken", V::None, V::SyncLost, 0, 44, 44},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EndAgreement end;
        if (c.own != V::None)
            end.reach(c.own, c.ownFrame, 1000);
        EXPECT_FALSE(end.decided());
        end.hear(c.peer, c.peerFrame, false, 2000);
        end.reach(V::Agreed, 0, 3000); // a later verdict of this side changes nothing
        EXPECT_TRUE(end.decided());
        EXPECT_EQ(end.agreed(), c.lostFrame == 0);
        EXPECT_EQ(end.agreed() ? 0 : end.lostFrame(), c.lostFrame);
        EXPECT_EQ(end.reachedMs(), c.own != V::None ? 1000u : 2000u);
        EXPECT_FALSE(end.peerEnded());
        end.hear(V::SyncLost, 1, true, 4000); // the other's first verdict stands
        EXPECT_TRUE(end.peerEnded());
        EXPECT_EQ(end.agreed(), c.lostFrame == 0);
    }
}
} // namespace
