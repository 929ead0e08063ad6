// Rectangle hit tests: strict borders, empty areas, the moved and widened
// area with its 16-bit wraps, the centre point, and the paddle windows.
#include <gtest/gtest.h>

#include "collide.h"

namespace {
SDL_Rect rect(int x, int y, int w, int h) {
    return {static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(w),
            static_cast<Uint16>(h)};
}

struct Case {
    SDL_Rect a;
    int bx, by;
    bool inside;
};

// B's corner against the area of A.
const Case cornerCases[] = {
    {rect(10, 20, 30, 40), 11, 21, true},     {rect(10, 20, 30, 40), 39, 59, true},
    {rect(10, 20, 30, 40), 10, 30, false},    {rect(10, 20, 30, 40), 40, 30, false},
    {rect(10, 20, 30, 40), 20, 20, false},    {rect(10, 20, 30, 40), 20, 60, false},
    {rect(10, 20, 30, 40), 10, 20, false},    {rect(10, 20, 30, 40), 40, 60, false},
    {rect(10, 20, 30, 40), 9, 30, false},     {rect(10, 20, 30, 40), 20, 61, false},
    {rect(10, 20, 0, 40), 10, 30, false},     {rect(10, 20, 0, 40), 11, 30, false},
    {rect(10, 20, 30, 0), 20, 20, false},     {rect(10, 20, 30, 0), 20, 21, false},
    {rect(-20, -20, 10, 10), -15, -15, true}, {rect(0, 0, 2, 2), 1, 1, true},
};
} // namespace

TEST(Collide, CornerStrictlyInside) {
    for (const Case &c : cornerCases) {
        SCOPED_TRACE(testing::Message() << "B at (" << c.bx << ", " << c.by << ")");
        for (Uint16 size : {0, 1, 12, 60000}) { // B's size is never read
            const SDL_Rect b = rect(c.bx, c.by, size, size);
            EXPECT_EQ(collisionDetectRIR(c.a, b), c.inside);
            EXPECT_EQ(collisionDetectRIRmW(c.a, b, 0, 0), c.inside);
        }
    }
}

TEST(Collide, MovedAndWidenedArea) {
    const SDL_Rect a = rect(10, 20, 30, 40); // moved by 5, 10 narrower: 15 < x < 35
    const struct {
        int bx;
        bool inside;
    } rows[] = {{15, false}, {16, true}, {34, true}, {35, false}, {11, false}};
    for (const auto &row : rows)
        EXPECT_EQ(collisionDetectRIRmW(a, rect(row.bx, 30, 5, 5), 5, -10), row.inside) << row.bx;
    EXPECT_FALSE(collisionDetectRIRmW(a, rect(20, 20, 5, 5), 5, -10)); // y keeps A's border
}

TEST(Collide, MovedAndWidenedAreaWrapsAt16Bits) {
    // 32767 + 1 is stored as -32768: the area starts at the far left.
    EXPECT_TRUE(collisionDetectRIRmW(rect(32767, 0, 10, 10), rect(-32767, 5, 1, 1), 1, 0));
    EXPECT_FALSE(collisionDetectRIRmW(rect(32767, 0, 10, 10), rect(32767, 5, 1, 1), 1, 0));
    // 11 - 12 is stored as 65535: a very wide area, not an empty one.
    EXPECT_TRUE(collisionDetectRIRmW(rect(0, 0, 11, 10), rect(100, 5, 1, 1), 0, -12));
    EXPECT_TRUE(collisionDetectRIRmW(rect(0, 0, 11, 10), rect(32767, 5, 1, 1), 0, -12));
}

TEST(Collide, CentrePointUsesHalfOfBsSize) {
    const SDL_Rect b = rect(10, 10, 13, 13); // centre (16, 16)
    EXPECT_TRUE(collisionDetectPIR(rect(15, 15, 2, 2), b));
    for (const SDL_Rect &a :
         {rect(16, 15, 2, 2), rect(14, 15, 2, 2), rect(15, 16, 2, 2), rect(15, 14, 2, 2)})
        EXPECT_FALSE(collisionDetectPIR(a, b)) << a.x << ", " << a.y;
    EXPECT_FALSE(collisionDetectPIR(rect(15, 15, 0, 2), b));
    EXPECT_FALSE(collisionDetectPIR(rect(15, 15, 2, 0), b));
    // The corner (10, 10) lies outside, the centre inside.
    EXPECT_TRUE(collisionDetectPIR(rect(12, 12, 10, 10), b));
    EXPECT_FALSE(collisionDetectRIR(rect(12, 12, 10, 10), b));
}

TEST(Collide, PaddleWindowsOfAMatch) {
    const int ballSize = 12;
    const SDL_Rect left = rect(1, 95, 11, 50), right = rect(307, 95, 11, 50);
    for (int x = -40; x <= 360; ++x) {
        const SDL_Rect ball = rect(x, 100, ballSize, ballSize);
        EXPECT_EQ(collisionDetectRIRmW(left, ball, -ballSize, 0), -10 <= x && x <= -1) << x;
        EXPECT_EQ(collisionDetectRIRmW(right, ball, 0, ballSize), 308 <= x && x <= 329) << x;
    }
    // Only the ball's top edge counts vertically.
    for (int y : {94, 95, 96, 144, 145}) {
        const bool between = 95 < y && y < 145;
        EXPECT_EQ(collisionDetectRIRmW(left, rect(-5, y, 12, 12), -ballSize, 0), between) << y;
        EXPECT_EQ(collisionDetectRIRmW(right, rect(320, y, 12, 12), 0, ballSize), between) << y;
    }
}
