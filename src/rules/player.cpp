// The paddle's rules of motion and its score.
#include "player.h"

namespace {
// The paddle's sprite, less its margin at each end, stays between these rows.
constexpr int TRAVEL_TOP_Y = 10;
constexpr int TRAVEL_BOTTOM_Y = 234;
} // namespace

void Player::reset() {
    speed = 0.0;
    score = 0.0;
}

void Player::setWorldPos(short x, short y) {
    worldRect.x = x;
    worldRect.y = y;
}

int Player::getScore() const { return static_cast<int>(score); }

void Player::incScore() { score += 1.0; }

void Player::setSpeed(double v) { speed = v; }

void Player::move(float t) {
    // Whole pixels only: the fraction of this step is dropped, not carried.
    const int dy = static_cast<int>(t * speed);
    const int margin = bodyRect.y / 2;
    worldRect.y = static_cast<Sint16>(worldRect.y + dy);

    // Both bounds are inclusive, so a paddle resting on one keeps speed 0.
    if (worldRect.y + margin <= TRAVEL_TOP_Y) {
        worldRect.y = static_cast<Sint16>(TRAVEL_TOP_Y - margin);
        speed = 0.0;
    }
    const int lowest = TRAVEL_BOTTOM_Y - spriteRect.h + margin;
    if (worldRect.y >= lowest) {
        worldRect.y = static_cast<Sint16>(lowest);
        speed = 0.0;
    }
}
