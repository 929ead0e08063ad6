// The pace and the pictures of every match, whatever runs its frames: the
// local match by its clock, a replay by its recorded frame lengths, the
// online match by its session. Natively a picture shows each frame as it
// leaves the match; in the browser one comes at each refresh of the display,
// between the last two frames (refresh.h).
#pragma once

#include <SDL.h>

#include <functional>

#include "refresh.h"
#include "view.h"

// No paddle of the match is eased (only the online match's other paddle is).
constexpr int NO_EASED_SIDE = -1;

class MatchPace {
  public:
    // easedSide: the paddle whose corrections are eased (PaddleEasing), or
    // NO_EASED_SIDE. The pictures start from the match as it stands.
    explicit MatchPace(int easedSide = NO_EASED_SIDE);

    // The local match and replays: waits until the next frame is due
    // (msUntilDue() its ms from now) or, in the browser, the display's next
    // refresh if it comes first. True when the frame is due: the caller runs
    // it before present().
    bool waitForFrame(const std::function<Uint32()> &msUntilDue);
    // The online match waits on its link instead (linkWaitMs), then runs
    // the frames whose time has come: framesRan says whether any did, with
    // the next due in msUntilDue.
    void afterFrames(bool framesRan, Uint32 msUntilDue);
    // The local match: the next frame is run at once (the caller waits out
    // its time first), not at the wake its time comes.
    void takeFrameNow();
    // Takes the match as the frames just run (if any) left it into the
    // pictures, and draws one if it is due.
    void present();
    // The match as the last picture showed it (in the browser, between two
    // frames): a hold shows it as it stopped, not a frame further on.
    const MatchView &shown() const { return shown_; }

  private:
    Wake wake_{};
    MatchView before_;
    MatchView after_;
    MatchView shown_;
    const int easedSide_;
    PaddleEasing easing_;
};
