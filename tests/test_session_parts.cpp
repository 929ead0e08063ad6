// The online session's parts alone: the sound ledger and the agreed end.
#include <gtest/gtest.h>

#include "end_agreement.h"
#include "sound_ledger.h"

namespace {
constexpr FrameSounds HIT = 1, WALL = 2, SCORE = 4;
constexpr uint32_t WINDOW = 128;

TEST(SessionSoundLedger, CorrectionsPlayWhatTheyRevealWhileRecent) {
    struct Case {
        const char *name;
        FrameSounds ran;   // frame 100's first run, heard then
        FrameSounds rerun; // its run again
        uint32_t present;  // the frames run once corrected
        FrameSounds playNow;
        SoundFigures settled;
    };
    const Case cases[] = {
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
        const std::vector<FrameSounds> rerun(c.present - 100, 0);
        std::vector<FrameSounds> again = rerun;
        again[0] = c.rerun;
        EXPECT_EQ(ledger.rerun(100, again, c.present), c.playNow);
        // Played late once: a second correction repeats nothing.
        EXPECT_EQ(ledger.rerun(100, again, c.present), 0);
        ledger.settle(100);
        ledger.settle(100 + WINDOW); // another frame's slot: not counted
        const SoundFigures &figures = ledger.figures();
        EXPECT_EQ(figures.sounds, c.settled.sounds);
        EXPECT_EQ(figures.missing, c.settled.missing);
        EXPECT_EQ(figures.wrong, c.settled.wrong);
        EXPECT_EQ(figures.late, c.settled.late);
    }
}

TEST(SessionEndAgreement, BothSidesEndTheSameWay) {
    using V = Verdict;
    struct Case {
        const char *name;
        V own;
        uint32_t ownFrame;
        V peer;
        uint32_t peerFrame;
        bool agreed;
        uint32_t lostFrame;
    };
    const Case cases[] = {
        {"both agree", V::Agreed, 0, V::Agreed, 0, true, 0},
        {"lost here first", V::SyncLost, 90, V::SyncLost, 100, false, 90},
        {"lost there first", V::SyncLost, 100, V::SyncLost, 90, false, 90},
        {"only this side agrees", V::Agreed, 0, V::SyncLost, 44, false, 44},
        {"only the other agrees", V::SyncLost, 70, V::Agreed, 0, false, 70},
        {"the other's loss taken", V::None, 0, V::SyncLost, 44, false, 44},
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
        EXPECT_EQ(end.agreed(), c.agreed);
        if (!c.agreed) {
            EXPECT_EQ(end.lostFrame(), c.lostFrame);
        }
        EXPECT_EQ(end.reachedMs(), c.own != V::None ? 1000u : 2000u);
        EXPECT_FALSE(end.peerEnded());
        end.hear(V::SyncLost, 1, true, 4000); // the other's first verdict stands
        EXPECT_TRUE(end.peerEnded());
        EXPECT_EQ(end.agreed(), c.agreed);
    }
}
} // namespace
