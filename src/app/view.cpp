// Pictures of the match between its frames, and the other paddle eased.
#include "view.h"

#include <algorithm>
#include <cmath>

#include "match.h"
#include "player.h"

namespace {
// A paddle's speed, in pixels per ms, and the pixel its rounding may add.
constexpr double PADDLE_PX_PER_MS = PADDLE_SPEED / MS_PER_TIME_UNIT;
constexpr double ROUNDING_PX = 1.0;

int lerp(int from, int to, double phase) {
    return static_cast<int>(std::lround(from + (to - from) * phase));
}
} // namespace

MatchView viewOfMatch() {
    return {{Players[0].worldRect.y, Players[1].worldRect.y},
            TavrelBall.worldRect.x,
            TavrelBall.worldRect.y,
            TavrelBall.isPaused() != 0};
}

MatchView between(const MatchView &before, const MatchView &after, double phase) {
    MatchView view = after;
    for (int side = 0; side < 2; ++side)
        view.paddleY[side] = lerp(before.paddleY[side], after.paddleY[side], phase);
    if (!after.ballWaits) {
        view.ballX = lerp(before.ballX, after.ballX, phase);
        view.ballY = lerp(before.ballY, after.ballY, phase);
    }
    return view;
}

int PaddleEasing::place(int row, double atMs) {
    if (!placed_) {
        placed_ = true;
        lastRow_ = row;
        lastMs_ = atMs;
        return row;
    }
    const double reach = PADDLE_PX_PER_MS * std::max(0.0, atMs - lastMs_) + ROUNDING_PX;
    const double jump = row - lastRow_;
    if (std::abs(jump) > reach) {
        offset_ = offsetAt(atMs) - (jump - std::copysign(reach, jump));
        offsetSince_ = atMs;
    }
    lastRow_ = row;
    lastMs_ = atMs;
    return static_cast<int>(std::lround(row + offsetAt(atMs)));
}

double PaddleEasing::offsetAt(double atMs) const {
    const double eased = atMs - offsetSince_;
    return eased >= easeMs_ ? 0.0 : offset_ * (1.0 - eased / easeMs_);
}
