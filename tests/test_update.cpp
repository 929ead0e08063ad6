// The match update: the frame's time factor, points, wall and paddle
// bounces with their sounds, and the win check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "match_fixture.h"

namespace {
// Every positioning and every play the update asks the mixer for.
struct Positioning {
    int channel;
    Sint16 angle;
    Uint8 distance;
};
struct Play {
    int channel;
    Mix_Chunk *chunk;
};
std::vector<Positioning> positionings;
std::vector<Play> plays;
} // namespace

extern "C" {
int __real_Mix_SetPosition(int channel, Sint16 angle, Uint8 distance);
int __real_Mix_PlayChannelTimed(int channel, Mix_Chunk *chunk, int loops, int ticks);

int __wrap_Mix_SetPosition(int channel, Sint16 angle, Uint8 distance) {
    positionings.push_back({channel, angle, distance});
    return __real_Mix_SetPosition(channel, angle, distance);
}

int __wrap_Mix_PlayChannelTimed(int channel, Mix_Chunk *chunk, int loops, int ticks) {
    plays.push_back({channel, chunk});
    return __real_Mix_PlayChannelTimed(channel, chunk, loops, ticks);
}
}

namespace {
class UpdateTest : public MatchTest {
  protected:
    void SetUp() override {
        MatchTest::SetUp();
        positionings.clear();
        plays.clear();
    }
};

// ---- The time factor

TEST_F(UpdateTest, FirstFrameCountsThirtyMillisecondsPlusTheTimeBetweenItsReadings) {
    struct Case {
        Uint32 ticks, ticksPerRead;
        float factor;
    } cases[] = {
        {1000, 0, 0.5f},
        {1000, 6, 0.6f}, // the second reading is 6 ms later: 36 ms
        {10, 0, 0.5f},   // 30 ms before the reading lies before the clock's zero
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ticks);
        resetAll();
        fake::now = c.ticks;
        fake::ticksPerRead = c.ticksPerRead;
        updateState();
        EXPECT_FLOAT_EQ(timeScaler, c.factor);
        EXPECT_EQ(resetGame, 0);
    }
    // The countdown of the first serve went down by the first factor / 20.
    EXPECT_DOUBLE_EQ(TavrelBall.pauseTime, 3.0 - static_cast<double>(0.5f) / 20.0);
}

TEST_F(UpdateTest, ANewMatchRestartsTheClockWhateverTimeHasPassed) {
    runFirstFrame();
    fake::now += 90000; // a long menu visit between two matches
    resetAll();
    updateState();
    EXPECT_FLOAT_EQ(timeScaler, 0.5f);
}

TEST_F(UpdateTest, EqualReadingsGiveFactorZeroAndNothingMoves) {
    runFirstFrame();
    const double pause = TavrelBall.pauseTime;
    Players[0].setSpeed(11.0);
    Players[1].setSpeed(-11.0);
    updateState();
    EXPECT_EQ(timeScaler, 0.0f);
    EXPECT_EQ(TavrelBall.pauseTime, pause);
    EXPECT_EQ(Players[0].worldRect.y, 95);
    EXPECT_EQ(Players[1].worldRect.y, 95);

    putBallInPlay(100, 100);
    updateState();
    EXPECT_EQ(TavrelBall.worldRect.x, 100);
    EXPECT_EQ(TavrelBall.worldRect.y, 100);
}

TEST_F(UpdateTest, FactorIsTheTimeSinceThePreviousFrame) {
    runFirstFrame();
    putBallInPlay(100, 100);
    fake::now += 60;
    updateState();
    EXPECT_FLOAT_EQ(timeScaler, 1.0f);
    EXPECT_EQ(TavrelBall.worldRect.x, 114); // 14 pixels per 60 ms
    EXPECT_EQ(TavrelBall.worldRect.y, 114);
}

// A frame up to a quarter of a second moves everything by its whole factor
// (in steps, where one step would pass the paddle); a longer one (a stall)
// counts as a restarted clock's first frame, 30 ms, so the ball flying at
// the right paddle is not carried past it for a point.
TEST_F(UpdateTest, AStalledFrameRestartsTheClockInsteadOfScoring) {
    struct Case {
        Uint32 elapsedMs;
        float factor;
        Sint16 ballX, paddleY;
        int leftScore;
    } cases[] = {
        {60, 1.0f, 294, 106, 0}, // 14 and 11 pixels per 60 ms
        // One step would carry the ball through the right paddle and past
        // the exit; in steps of at most 22 ms the paddle returns it on the
        // way (at x 308, to 295, then 5 steps of 4 pixels back), and the
        // left paddle moves 3 pixels a step.
        {250, 250.0f / 60.0f, 275, 131, 0},
        {251, 0.5f, 287, 100, 0},
        {2000, 0.5f, 287, 100, 0},
    };
    runFirstFrame();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.elapsedMs);
        Players[0].reset();
        Players[0].worldRect.y = 95;
        Players[0].setSpeed(11.0);
        putBallInPlay(280, 100, 14.0, 0.0);
        fake::now += c.elapsedMs;
        updateState();
        EXPECT_FLOAT_EQ(timeScaler, c.factor);
        EXPECT_EQ(TavrelBall.worldRect.x, c.ballX);
        EXPECT_EQ(Players[0].worldRect.y, c.paddleY);
        EXPECT_EQ(Players[0].getScore(), c.leftScore);
    }
}

TEST_F(UpdateTest, ClockWrapBetweenFramesGivesTheTrueElapsedTime) {
    fake::now = 0xFFFFFFF0u;
    runFirstFrame();
    fake::now = 0x14; // 16 ms to the wrap and 20 after it
    updateState();
    EXPECT_FLOAT_EQ(timeScaler, 36.0f / 60.0f);
}

// ---- Points and walls

TEST_F(UpdateTest, BallLeavingTheFieldGivesTheOtherPlayerAPoint) {
    struct Case {
        Sint16 x;
        int leftScore, rightScore;
    } cases[] = {
        {333, 1, 0}, // past the right exit: player 1
        {332, 0, 0},
        {-12, 0, 1}, // wholly off on the left: player 2
        {-11, 0, 0},
    };
    runFirstFrame();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.x);
        Players[0].reset();
        Players[1].reset();
        putBallInPlay(c.x, 100);
        updateState();
        EXPECT_EQ(Players[0].getScore(), c.leftScore);
        EXPECT_EQ(Players[1].getScore(), c.rightScore);
        if (c.leftScore + c.rightScore > 0) {
            EXPECT_EQ(TavrelBall.worldRect.x, 154);
            EXPECT_EQ(TavrelBall.worldRect.y, 114);
            EXPECT_DOUBLE_EQ(TavrelBall.pauseTime, 2.0);
        }
    }
}

TEST_F(UpdateTest, WallBouncePlaysTheWallSoundCentred) {
    struct Case {
        Sint16 y, yAfter;
    } cases[] = {{5, 12}, {220, 217}};
    runFirstFrame();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.y);
        positionings.clear();
        plays.clear();
        hitSound.angle = 270; // as a left hit leaves it
        putBallInPlay(100, c.y);
        updateState();
        EXPECT_EQ(TavrelBall.worldRect.y, c.yAfter);
        ASSERT_EQ(plays.size(), 1u);
        EXPECT_EQ(plays[0].channel, WALL_CHANNEL);
        EXPECT_EQ(plays[0].chunk, wallSound.chunk);
        ASSERT_EQ(positionings.size(), 1u);
        EXPECT_EQ(positionings[0].channel, WALL_CHANNEL);
        EXPECT_EQ(positionings[0].angle, 0);
        EXPECT_EQ(positionings[0].distance, 0);
        EXPECT_EQ(Mix_Playing(WALL_CHANNEL), 1);
        EXPECT_EQ(wallSound.angle, 0);
    }
}

// ---- Paddle hits

TEST_F(UpdateTest, PaddlesReturnTheBallOnlyInsideTheirWindows) {
    struct Case {
        Sint16 x, y;
        bool hit;
        Sint16 xAfter;
        Sint16 angle;
    } cases[] = {
        // Left paddle at (1, 95): the ball's right edge inside its columns and
        // its top strictly between the paddle's top and bottom.
        {-5, 100, true, 12, 270},
        {-10, 100, true, 12, 270},
        {-1, 144, true, 12, 270},
        {-5, 95, false, 0, 0},   // top level with the paddle's top
        {0, 100, false, 0, 0},   // right edge on the paddle's right border
        {-11, 100, false, 0, 0}, // right edge on the paddle's left border
        // Right paddle at (307, 95).
        {308, 144, true, 295, 90},
        {329, 96, true, 295, 90},
        {307, 120, false, 0, 0},
        {330, 120, false, 0, 0},
        {320, 145, false, 0, 0}, // top on the paddle's bottom border
    };
    runFirstFrame();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "ball at (" << c.x << ", " << c.y << ")");
        Mix_HaltChannel(-1);
        positionings.clear();
        plays.clear();
        hitSound.angle = 0;
        const double speedX = c.x < 160 ? -14.0 : 14.0; // heading for that paddle
        putBallInPlay(c.x, c.y, speedX, 14.0);
        updateState(); // factor 0: the ball is tested where it was placed
        if (c.hit) {
            EXPECT_EQ(TavrelBall.worldRect.x, c.xAfter);
            EXPECT_EQ(TavrelBall.speedX, -speedX);
            EXPECT_GE(TavrelBall.speedY, 0.0);
            EXPECT_LE(TavrelBall.speedY, 13.0);
            EXPECT_EQ(hitSound.angle, c.angle);
            ASSERT_EQ(plays.size(), 1u);
            EXPECT_EQ(plays[0].channel, HIT_CHANNEL);
            EXPECT_EQ(plays[0].chunk, hitSound.chunk);
            ASSERT_EQ(positionings.size(), 1u);
            EXPECT_EQ(positionings[0].angle, c.angle);
            EXPECT_EQ(positionings[0].distance, 0);
        } else {
            EXPECT_EQ(TavrelBall.worldRect.x, c.x);
            EXPECT_EQ(TavrelBall.speedX, speedX);
            EXPECT_EQ(TavrelBall.speedY, 14.0);
            EXPECT_EQ(hitSound.angle, 0);
            EXPECT_TRUE(plays.empty());
        }
        EXPECT_EQ(TavrelBall.worldRect.y, c.y);
    }
}

// A positioning that fails says so in one line, nothing played; a play that
// fails gives the mixer's line and the match's own.
TEST_F(UpdateTest, FailedSoundLeavesTheBounceInEffectAndPrintsTwoLines) {
    struct Case {
        const char *what;
        SND_Data *sound;
        Sint16 x, y;
    } cases[] = {
        {"left paddle hit, positioned", &hitSound, -5, 100},
        {"wall bounce, played", &wallSound, 100, 5},
    };
    runFirstFrame();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const SND_Data loaded = *c.sound;
        const bool positionFails = c.sound == &hitSound;
        if (positionFails)
            c.sound->channel = 7; // only four channels exist
        else
            c.sound->chunk = nullptr;
        putBallInPlay(c.x, c.y, -14.0, -14.0);
        harness::StdoutCapture out;
        updateState();
        const std::vector<std::string> lines = out.lines();
        const std::string error = SDL_GetError();
        // The failed step's own line, then the match's line, whichever failed.
        EXPECT_EQ(lines, (std::vector<std::string>{
                             (positionFails ? "Mix_SetPosition: " : "Mix_PlayChannel: ") + error,
                             "Mix_PlayChannel: " + error}));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(plays.size(), positionFails ? 0u : 1u);
        if (c.sound == &hitSound) {
            EXPECT_EQ(TavrelBall.worldRect.x, 12);
            EXPECT_EQ(TavrelBall.speedX, 14.0);
            EXPECT_EQ(hitSound.angle, 270);
        } else {
            EXPECT_EQ(TavrelBall.worldRect.y, 12);
            EXPECT_EQ(TavrelBall.speedY, 14.0);
        }
        *c.sound = loaded;
    }
}

// ---- The win check

TEST_F(UpdateTest, WinCheckSetsTheWinnerAndPlayerTwoWinsATie) {
    struct Case {
        int leftScore, rightScore, flagBefore, flagAfter;
    } cases[] = {
        {4, 4, 0, 0}, {5, 0, 0, 1},   {0, 5, 0, 2},  {5, 5, 0, 2},
        {7, 6, 0, 2}, {4, 4, -1, -1}, {5, 3, -1, 1}, {3, 5, -1, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.leftScore << " to " << c.rightScore);
        Players[0].score = c.leftScore;
        Players[1].score = c.rightScore;
        quitFlag = c.flagBefore;
        checkWinConditions();
        EXPECT_EQ(quitFlag, c.flagAfter);
    }
}

TEST_F(UpdateTest, WinningPointReplacesEscapeInTheSameFrame) {
    runFirstFrame();
    Players[0].score = 4.0;
    putBallInPlay(333, 100);
    harness::holdKey(SDLK_ESCAPE);
    updateInputs();
    EXPECT_EQ(quitFlag, -1);
    updateState();
    checkWinConditions();
    EXPECT_EQ(Players[0].getScore(), 5);
    EXPECT_EQ(quitFlag, 1);
    Players[0].score = 4.0; // the same pass as one frame of the rules, as the loop runs it
    putBallInPlay(333, 100);
    runFrame({{false, false}, {false, false}, true, false}, 0);
    EXPECT_EQ(quitFlag, 1);
}
} // namespace
