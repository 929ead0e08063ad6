// The rules alone, linked without any SDL library: long frames at the
// paddles, and the rules' fingerprint.
#include <gtest/gtest.h>

#include "match.h"
#include "snapshot.h"

namespace {
constexpr int32_t SEED = 424242;

TEST(LongFrames, NoPaddleInTheBallsWayIsSkipped) {
    const struct {
        const char *name;
        Sint16 startX;
        double speedX;
        int frameMs;
        FrameSounds sounds;  // a return, or none
        Sint16 endX;         // where the frame leaves the ball; 0: elsewhere
        Sint16 startY = 100; // level with both paddles (rows 95 to 144)
        double speedY = 0.0;
    } cases[] = {
        // 48 ms carry the ball 11 pixels, from x 0 past the left window (-10 to -1).
        {"48 ms through the left paddle", 0, -14.0, 48, SOUND_HIT_LEFT, 0},
        // 250 ms carry it 58 pixels: from x 40 past the paddle and out of the field.
        {"250 ms through the left paddle", 40, -14.0, 250, SOUND_HIT_LEFT, 0},
        // 99 ms carry it 23 pixels, from x 307 past the right window (308 to 329).
        {"99 ms through the right paddle", 307, 14.0, 99, SOUND_HIT_RIGHT, 0},
        // Where one step lands in the window, the return is today's: at x 12.
        {"100 ms landing in the left window", 15, -14.0, 100, SOUND_HIT_LEFT, 12},
        {"44 ms, one step as ever", 0, -14.0, 44, SOUND_HIT_LEFT, 12},
        // Up to 44 ms one step, here to the paddle's bottom row (145); 45 ms
        // in steps of 15, the second meeting the paddle at (-2, 142).
        {"44 ms past the paddle's corner", 4, -14.0, 44, 0, -6, 136, 13.0},
        {"45 ms past the paddle's corner", 4, -14.0, 45, SOUND_HIT_LEFT, 15, 136, 13.0},
        // Steps of at most 22 ms, the spare ones first: from the return at x 12,
        // 5 + 5 (22, 22, 22) or 4 + 3 + 3 pixels (18, 18, 17, 17).
        {"66 ms in three steps", 0, -14.0, 66, SOUND_HIT_LEFT, 22},
        {"70 ms in four uneven steps", 0, -14.0, 70, SOUND_HIT_LEFT, 22},
        // Free flight: one step, the fraction dropped once (3.33 x 14 = 46.7).
        {"200 ms of free flight", 100, 14.0, 200, 0, 146},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        startMatch({SEED, 2, 0});
        TavrelBall.pauseTime = 0.0;
        TavrelBall.setSpeed(c.speedX, c.speedY);
        TavrelBall.setWorldPos(c.startX, c.startY);
        EXPECT_EQ(stepMatch(c.frameMs), c.sounds);
        EXPECT_EQ(TavrelBall.speedX > 0, (c.speedX > 0) != (c.sounds != 0));
        if (c.endX != 0) {
            EXPECT_EQ(TavrelBall.worldRect.x, c.endX);
        }
        EXPECT_FLOAT_EQ(timeScaler, c.frameMs / 60.0f);
        EXPECT_EQ(Players[0].getScore() + Players[1].getScore(), 0);
    }
}

TEST(RulesFingerprint, IsTheSameEachTimeAndLeavesTheMatchAlone) {
    startMatch({SEED, 1, 3});
    for (int frame = 0; frame < 300; ++frame)
        runFrame({{frame % 40 < 20, false}, {frame % 40 >= 20, false}, false, false}, 22);
    const uint64_t state = matchHash();
    const uint64_t fingerprint = rulesFingerprint();
    EXPECT_EQ(rulesFingerprint(), fingerprint);
    // The value games compare before an online match: it moves only with a
    // rule of a one- or two-player match (and then, deliberately, with the
    // recorded matches of tests/replays), never with a build's flags.
    EXPECT_EQ(fingerprint, 17646658153058870882u);
    EXPECT_EQ(matchHash(), state);
    EXPECT_EQ(numPlayers, 1);
    EXPECT_EQ(ballType, 3);
    EXPECT_FLOAT_EQ(timeScaler, 22 / 60.0f);
}

// A rule the script never reaches is one two games could differ in unseen:
// every command each paddle can be given, held together included.
TEST(RulesFingerprint, ScriptGivesEveryCommand) {
    for (int players = 1; players <= 2; ++players)
        for (int side = 0; side < players; ++side)
            for (int keys = 0; keys <= 4; ++keys) { // bit 0 up, bit 1 down; 4: leave
                SCOPED_TRACE(testing::Message()
                             << players << " players, side " << side << ", keys " << keys);
                bool given = false;
                for (int frame = 0; frame < FINGERPRINT_FRAMES && !given; ++frame) {
                    const FrameInput in = fingerprintInput(frame, players);
                    given = keys == 4 ? in.leave
                                      : in.up[side] == (keys & 1) && in.down[side] == keys >> 1;
                }
                EXPECT_TRUE(given);
            }
}
} // namespace
