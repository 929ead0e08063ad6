// The paddle: its inclusive bounds with the margin from bodyRect.y, whole-pixel
// steps, the score read back by truncation, and reset.
#include <gtest/gtest.h>

#include "player.h"

namespace {
// A paddle as a match lays it out (11 x 50, margin 3), at row y.
Player paddleAt(short y, double speed, short bodyY = 6, Uint16 spriteH = 50) {
    Player paddle;
    paddle.spriteRect = {223, 1, 11, spriteH};
    paddle.bodyRect = {0, bodyY, 11, 44};
    paddle.worldRect = {1, y, 11, spriteH};
    paddle.setSpeed(speed);
    return paddle;
}
} // namespace

TEST(Paddle, MoveStopsAtBothInclusiveBounds) {
    struct Row {
        short y;
        double speed;
        short bodyY;
        Uint16 spriteH;
        short endY;
        double endSpeed;
    };
    const Row rows[] = {
        {10, -2, 6, 50, 8, -2},                              // y = 8 stands
        {10, -3, 6, 50, 7, 0},                               // y = 7: y + 3 <= 10
        {10, -9, 6, 50, 7, 0},     {180, 6, 6, 50, 186, 6},  // y = 186 stands
        {180, 7, 6, 50, 187, 0},                             // 234 - 50 + 3
        {180, 30, 6, 50, 187, 0},  {20, -6, -7, 50, 14, -6}, // margin -3, not -4: y = 14 stands
        {20, -7, -7, 50, 13, 0},   {170, 10, -7, 50, 180, 10},
        {170, 11, -7, 50, 181, 0}, // 234 - 50 - 3
        {190, 30, 6, 30, 207, 0},  // a shorter sprite goes lower
        {32767, 1, 6, 50, 7, 0},   // y wraps to -32768, then the top bound
        {2, 0, 6, 50, 7, 0},       // the bounds hold at speed 0 too
        {300, 0, 6, 50, 187, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "from y " << row.y << " at speed " << row.speed
                                        << ", bodyRect.y " << row.bodyY);
        Player paddle = paddleAt(row.y, row.speed, row.bodyY, row.spriteH);
        paddle.move(1.0f);
        EXPECT_EQ(paddle.worldRect.y, row.endY);
        EXPECT_EQ(paddle.speed, row.endSpeed);
        EXPECT_EQ(paddle.worldRect.x, 1);
    }
}

TEST(Paddle, RestingPaddleKeepsSpeedZero) {
    for (short bound : {7, 187}) {
        Player paddle = paddleAt(bound, 0.0);
        for (double pushed : {0.0, bound == 7 ? -11.0 : 11.0}) {
            paddle.setSpeed(pushed);
            for (int frame = 0; frame < 3; ++frame) {
                paddle.move(1.0f);
                EXPECT_EQ(paddle.worldRect.y, bound);
                EXPECT_EQ(paddle.speed, 0.0);
            }
        }
    }
}

TEST(Paddle, StepsTruncateTowardZeroAndDropTheFraction) {
    const struct {
        float t;
        double speed;
        int moved;
    } rows[] = {{1.0f, -2.5, -2}, {1.0f, 2.5, 2},    {1.0f, 0.9, 0},
                {1.0f, -0.9, 0},  {0.2f, -11.0, -2}, {1.5f, 11.0, 16}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.t * row.speed);
        Player paddle = paddleAt(100, row.speed);
        paddle.move(row.t);
        paddle.move(row.t);
        EXPECT_EQ(paddle.worldRect.y, 100 + 2 * row.moved);
    }
}

TEST(Paddle, ScoreIsReadBackTruncated) {
    Player paddle;
    paddle.score = 4.0;
    EXPECT_EQ(paddle.getScore(), 4);
    paddle.incScore();
    EXPECT_EQ(paddle.score, 5.0);
    EXPECT_EQ(paddle.getScore(), 5);
    paddle.score = 4.9;
    EXPECT_EQ(paddle.getScore(), 4);
    paddle.score = -0.5;
    EXPECT_EQ(paddle.getScore(), 0);
}

TEST(Paddle, ResetClearsSpeedAndScoreOnly) {
    Player paddle = paddleAt(120, 11.0);
    paddle.score = 3.0;
    paddle.setWorldPos(307, 95);
    paddle.reset();
    EXPECT_EQ(paddle.speed, 0.0);
    EXPECT_EQ(paddle.score, 0.0);
    EXPECT_EQ(paddle.worldRect.x, 307);
    EXPECT_EQ(paddle.worldRect.y, 95);
    EXPECT_EQ(paddle.worldRect.h, 50);
    EXPECT_EQ(paddle.spriteRect.x, 223);
    EXPECT_EQ(paddle.spriteRect.h, 50);
    EXPECT_EQ(paddle.bodyRect.y, 6);
}
