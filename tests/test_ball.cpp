// The ball: its first values, the serve countdown, the exits and walls with
// their exact bounds, whole-pixel steps, the paddle bounce and the re-serve.
#include <gtest/gtest.h>

#include <climits>
#include <new>

#include "ball.h"
#include "fake_time.h"
#include "init.h"
#include "randgen.h"

namespace {
// A ball as a match lays it out (12 x 12 unless size says otherwise), in play at (x, y).
Ball ballInPlay(short x, short y, double speedX, double speedY, Uint16 size = 12) {
    Ball ball;
    ball.spriteRect = {1, 114, 12, 12};
    ball.worldRect = {x, y, size, size};
    ball.setSpeed(speedX, speedY);
    ball.pauseTime = 0.0;
    return ball;
}

void expectServedFromCentre(const Ball &ball, double pause) {
    EXPECT_EQ(ball.worldRect.x, 154);
    EXPECT_EQ(ball.worldRect.y, 114);
    EXPECT_EQ(ball.speedX, 14.0);
    EXPECT_EQ(ball.speedY, 14.0);
    EXPECT_EQ(ball.pauseTime, pause);
}

// Centred from a sprite of size 0, served right and down after 3 units.
void expectFirstValues(const Ball &ball) {
    EXPECT_EQ(ball.speedX, 14.0);
    EXPECT_EQ(ball.speedY, 14.0);
    EXPECT_EQ(ball.pauseTime, 3.0);
    EXPECT_EQ(ball.worldRect.x, 160);
    EXPECT_EQ(ball.worldRect.y, 120);
    EXPECT_EQ(ball.worldRect.w, 0);
    EXPECT_EQ(ball.worldRect.h, 0);
    EXPECT_EQ(ball.spriteRect.x, 0);
    EXPECT_EQ(ball.spriteRect.y, 0);
    EXPECT_EQ(ball.spriteRect.w, 0);
    EXPECT_EQ(ball.spriteRect.h, 0);
}
} // namespace

TEST(Ball, FirstValuesAndNoDrawOnConstruction) {
    expectFirstValues(TavrelBall); // the global ball, before anything has moved it
    // A ball built in zeroed storage, as the global one is, after seeding.
    seedGeneratorAt(0);
    alignas(Ball) static unsigned char storage[sizeof(Ball)] = {};
    const Ball *ball = new (storage) Ball;
    EXPECT_EQ(getRandom(14), 13u); // still the first draw from seed 0
    expectFirstValues(*ball);
}

TEST(Ball, IsPausedShowsWholeUnitsLeftPlusOne) {
    const struct {
        double pause;
        int shown;
    } rows[] = {{3.0, 4}, {2.9999, 3}, {2.0, 3}, {1.0, 2},
                {0.5, 1}, {0.0001, 1}, {0.0, 0}, {-5.0, 0}};
    Ball ball;
    for (const auto &row : rows) {
        ball.pauseTime = row.pause;
        EXPECT_EQ(ball.isPaused(), row.shown) << "pauseTime " << row.pause;
    }
}

TEST(Ball, CountdownThenMovesInTheStepThatReachesZero) {
    Ball ball = ballInPlay(100, 100, 0.0, 0.0);
    ball.resetBall(3);
    ball.setSpeed(0.5, -0.5);
    for (double left : {2.0, 1.0}) {
        EXPECT_EQ(ball.move(20.0f), BALL_NO_EVENT);
        EXPECT_EQ(ball.pauseTime, left);
        EXPECT_EQ(ball.worldRect.x, 154);
        EXPECT_EQ(ball.worldRect.y, 114);
    }
    EXPECT_EQ(ball.move(20.0f), BALL_NO_EVENT); // pauseTime exactly 0.0: it moves
    EXPECT_EQ(ball.pauseTime, 0.0);
    EXPECT_EQ(ball.worldRect.x, 164);
    EXPECT_EQ(ball.worldRect.y, 104);
    EXPECT_EQ(ball.isPaused(), 0);
    ball.move(20.0f); // in play the countdown keeps falling, with no floor
    ball.move(30.0f);
    EXPECT_EQ(ball.pauseTime, -2.5);
    EXPECT_EQ(ball.isPaused(), 0);
}

TEST(Ball, WaitingBallStandsEvenOutsideTheField) {
    Ball ball = ballInPlay(-100, 5, -14.0, -14.0);
    ball.pauseTime = 0.2;
    EXPECT_EQ(ball.move(1.0f), BALL_NO_EVENT);
    EXPECT_DOUBLE_EQ(ball.pauseTime, 0.15);
    EXPECT_EQ(ball.worldRect.x, -100);
    EXPECT_EQ(ball.worldRect.y, 5);
    EXPECT_EQ(ball.speedY, -14.0);
}

TEST(Ball, ExitsAndWalls) {
    struct Row {
        short x, y;
        double speedX, speedY;
        Uint16 size;
        int event;
        short endX, endY;
        double endSpeedY;
    };
    const Row rows[] = {
        {-11, 100, -1, 0, 12, BALL_LEFT_LEFT, 154, 114, 14}, // x = -12: whole ball off
        {-10, 100, -1, 0, 12, BALL_NO_EVENT, -11, 100, 0},
        {-19, 100, -1, 0, 20, BALL_LEFT_LEFT, 154, 114, 14}, // x = -20 for a wider ball
        {332, 100, 1, 0, 12, BALL_LEFT_RIGHT, 154, 114, 14}, // x = 333 > 320 + 12
        {331, 100, 1, 0, 12, BALL_NO_EVENT, 332, 100, 0},
        {319, 100, 1, 0, 12, BALL_NO_EVENT, 320, 100, 0},    // wholly off, not yet out
        {340, 100, 1, 0, 20, BALL_LEFT_RIGHT, 154, 114, 14}, // x = 341 > 320 + 20
        {100, 12, 0, -1, 12, BALL_HIT_WALL, 100, 12, 1},     // y = 11
        {100, 13, 0, -1, 12, BALL_NO_EVENT, 100, 12, -1},
        {100, 216, 0, 1, 12, BALL_NO_EVENT, 100, 217, 1},        // y = 229 - 12 stands
        {100, 217, 0, 1, 12, BALL_HIT_WALL, 100, 217, -1},       // y = 218
        {100, 230, 0, -2, 12, BALL_HIT_WALL, 100, 217, 2},       // negated, not made upward
        {100, 209, 0, 1, 20, BALL_HIT_WALL, 100, 209, -1},       // y = 210 > 229 - 20
        {-5, 13, -7, -5, 12, BALL_LEFT_LEFT, 154, 114, 14},      // exit wins over top wall
        {330, 220, 14, 14, 12, BALL_LEFT_RIGHT, 154, 114, 14},   // exit wins over bottom
        {32767, 100, 1, 0, 12, BALL_LEFT_LEFT, 154, 114, 14},    // x wraps to -32768
        {-32768, 100, -1, 0, 12, BALL_LEFT_RIGHT, 154, 114, 14}, // x wraps to 32767
        {100, 32767, 0, 1, 12, BALL_HIT_WALL, 100, 12, -1},      // y wraps to -32768
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "from (" << row.x << ", " << row.y << ")");
        Ball ball = ballInPlay(row.x, row.y, row.speedX, row.speedY, row.size);
        EXPECT_EQ(ball.move(1.0f), row.event);
        EXPECT_EQ(ball.worldRect.x, row.endX);
        EXPECT_EQ(ball.worldRect.y, row.endY);
        EXPECT_EQ(ball.speedY, row.endSpeedY);
        EXPECT_EQ(ball.worldRect.w, row.size);
        EXPECT_EQ(ball.worldRect.h, row.size);
        if (row.event > 0) // re-served, waiting for the next serve
            expectServedFromCentre(ball, 2.0);
    }
}

TEST(Ball, StepsTruncateTowardZeroAndDropTheFraction) {
    const struct {
        float t;
        double speed;
        int moved;
    } rows[] = {{1.0f, -7.7, -7},      {1.0f, 7.7, 7},   {0.9f / 14, 14.0, 0},
                {0.9f / 14, -14.0, 0}, {1.5f, 14.0, 21}, {2.5f, -14.0, -35}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.t * row.speed);
        Ball ball = ballInPlay(150, 120, row.speed, row.speed);
        for (int step = 1; step <= 3; ++step) { // no fraction carried over
            ball.move(row.t);
            EXPECT_EQ(ball.worldRect.x, 150 + step * row.moved);
            EXPECT_EQ(ball.worldRect.y, 120 + step * row.moved);
            if (row.moved != 0)
                break;
        }
    }
}

TEST(Ball, BounceXReversesAndDrawsOneVerticalSpeed) {
    seedGeneratorAt(0);
    for (unsigned i = 0; i < 6; ++i)
        getRandom(14);
    const unsigned afterSixDraws = getRandom(INT_MAX);

    seedGeneratorAt(0);
    Ball ball = ballInPlay(100, 100, 14.0, -14.0);
    const double expectedSpeedY[] = {13, 6, 0, 4, 9, 5};
    for (int i = 0; i < 6; ++i) {
        ball.bounceX(20 + i);
        EXPECT_EQ(ball.speedX, i % 2 == 0 ? -14.0 : 14.0);
        EXPECT_EQ(ball.speedY, expectedSpeedY[i]);
        EXPECT_EQ(ball.worldRect.x, 20 + i);
        EXPECT_EQ(ball.worldRect.y, 100);
    }
    EXPECT_EQ(getRandom(INT_MAX), afterSixDraws); // exactly one draw per bounce

    ball.bounceX(40000); // kept to 16 bits
    EXPECT_EQ(ball.worldRect.x, 40000 - 65536);
    ball.setSpeed(-14.0, 9.0);
    ball.bounceY(-3);
    EXPECT_EQ(ball.worldRect.y, -3);
    EXPECT_EQ(ball.speedY, -9.0);
    EXPECT_EQ(ball.speedX, -14.0);
}

TEST(Ball, ResetBallCentresBySpriteSize) {
    const struct {
        Uint16 w, h;
        short x, y;
    } rows[] = {{0, 0, 160, 120}, {12, 12, 154, 114}, {13, 13, 154, 114}, {20, 7, 150, 117}};
    for (const auto &row : rows) {
        Ball ball = ballInPlay(3, 4, -5.0, -6.0);
        ball.spriteRect = {9, 8, row.w, row.h};
        ball.worldRect.w = 30;
        ball.resetBall(2);
        EXPECT_EQ(ball.worldRect.x, row.x);
        EXPECT_EQ(ball.worldRect.y, row.y);
        EXPECT_EQ(ball.speedX, 14.0);
        EXPECT_EQ(ball.speedY, 14.0);
        EXPECT_EQ(ball.pauseTime, 2.0);
        EXPECT_EQ(ball.worldRect.w, 30); // sizes and sprite region untouched
        EXPECT_EQ(ball.spriteRect.x, 9);
        EXPECT_EQ(ball.spriteRect.w, row.w);
    }
}
