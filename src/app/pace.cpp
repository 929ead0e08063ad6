// The pace and the pictures of every match.
#include "pace.h"

#include <utility>

#include "game.h"

MatchPace::MatchPace(int easedSide)
    : before_(viewOfMatch()), after_(before_), shown_(before_), easedSide_(easedSide),
      easing_(CORRECTION_EASE_MS) {}

bool MatchPace::waitForFrame(const std::function<Uint32()> &msUntilDue) {
    wake_ = waitForFrameOrRefresh(msUntilDue);
    return wake_.frameDue;
}

void MatchPace::afterFrames(bool framesRan, Uint32 msUntilDue) {
    wake_ = pictureAfterFrames(framesRan, msUntilDue);
}

void MatchPace::takeFrameNow() {
    wake_.frameDue = true;
    wake_.phase = 0.0; // the picture after it shows the frame before, as at a due wake
}

void MatchPace::present() {
    if (wake_.frameDue)
        before_ = std::exchange(after_, viewOfMatch());
    wake_.frameDue = false; // taken: a second picture shows the same frames
    if (!wake_.pictureDue)
        return;
    MatchView view = between(before_, after_, wake_.phase);
    if (easedSide_ != NO_EASED_SIDE)
        view.paddleY[easedSide_] = easing_.place(view.paddleY[easedSide_], wake_.atMs);
    drawMatch(view);
    shown_ = view;
}
