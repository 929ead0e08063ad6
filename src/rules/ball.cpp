// The ball's rules of motion.
#include "ball.h"

#include "commands.h"
#include "randgen.h"

namespace {
// The ball is served from the field's centre.
constexpr int CENTRE_X = FIELD_WIDTH / 2;
constexpr int CENTRE_Y = FIELD_HEIGHT / 2;
constexpr int TOP_WALL_Y = 12;     // highest row the ball's top may reach
constexpr int BOTTOM_WALL_Y = 229; // the ball's bottom stops here
// The countdown falls by the time factor divided by this in every move.
constexpr double PAUSE_TICKS_PER_UNIT = 20.0;
// A paddle hit draws the new vertical speed from 0 to this bound less one.
constexpr int BOUNCE_SPEED_Y_RANGE = 14;

// Positions are kept in SDL's signed 16-bit fields and wrap there.
Sint16 wrap16(int v) { return static_cast<Sint16>(v); }
} // namespace

Ball::Ball() : spriteRect{}, worldRect{}, speedX(0.0), speedY(0.0), pauseTime(FIRST_SERVE_PAUSE) {
    resetBall(FIRST_SERVE_PAUSE);
}

void Ball::setWorldPos(short x, short y) {
    worldRect.x = x;
    worldRect.y = y;
}

int Ball::isPaused() const { return pauseTime > 0.0 ? static_cast<int>(pauseTime) + 1 : 0; }

void Ball::resetBall(int p) {
    worldRect.x = wrap16(CENTRE_X - spriteRect.w / 2);
    worldRect.y = wrap16(CENTRE_Y - spriteRect.h / 2);
    speedX = BALL_SERVE_SPEED;
    speedY = BALL_SERVE_SPEED;
    pauseTime = p;
}

int Ball::move(float t) {
    pauseTime -= static_cast<double>(t) / PAUSE_TICKS_PER_UNIT;
    if (pauseTime > 0.0)
        return BALL_NO_EVENT;

    // Whole pixels only: the fraction of this step is dropped, not carried.
    worldRect.x = wrap16(worldRect.x + static_cast<int>(t * speedX));
    worldRect.y = wrap16(worldRect.y + static_cast<int>(t * speedY));

    const int x = worldRect.x, w = worldRect.w;
    if (x <= -w) {
        resetBall(SERVE_PAUSE);
        return BALL_LEFT_LEFT;
    }
    // The right exit lies a whole ball width past the screen's edge.
    if (x > FIELD_WIDTH + w) {
        resetBall(SERVE_PAUSE);
        return BALL_LEFT_RIGHT;
    }

    const int y = worldRect.y, h = worldRect.h;
    if (y < TOP_WALL_Y) {
        bounceY(TOP_WALL_Y);
        return BALL_HIT_WALL;
    }
    if (y > BOTTOM_WALL_Y - h) {
        bounceY(BOTTOM_WALL_Y - h);
        return BALL_HIT_WALL;
    }
    return BALL_NO_EVENT;
}

void Ball::bounceX(int x) {
    speedX = -speedX;
    worldRect.x = wrap16(x);
    speedY = static_cast<double>(getRandom(BOUNCE_SPEED_Y_RANGE));
}

void Ball::bounceY(int y) {
    worldRect.y = wrap16(y);
    speedY = -speedY;
}

void Ball::setSpeed(double vx, double vy) {
    speedX = vx;
    speedY = vy;
}
