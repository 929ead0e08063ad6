// When the match's pictures are drawn. Natively a picture is drawn for each
// frame, as the frame leaves the match. In the browser one is drawn for each
// refresh of the display, between the frames (which run at their own pace,
// 22 ms apart, as natively): a 60 Hz display refreshes four times in three
// frames, and a picture per frame would show the ball still at one refresh
// in four.
#pragma once

#include <SDL.h>

#include <functional>

// What a pass of a match loop is to do.
struct Wake {
    bool frameDue;   // the next frame's time has come: run it
    bool pictureDue; // draw a picture, after the frame if one runs
    // Where the picture stands from the frame before the last (0) to the
    // last (1), by the time since the last one: natively always 1.
    double phase;
    double atMs; // the picture's time, by a clock of its own (for easing)
};

// The wait of the local match and of replays: until the next frame is due
// (msUntilDue() reaches 0) or, in the browser, the display's next refresh if
// it comes first.
Wake waitForFrameOrRefresh(const std::function<Uint32()> &msUntilDue);

// The online match's loop waits on the link, for at most what this returns
// of waitMs (in the browser: a moment, so that it looks at each refresh);
// then, after its frames (framesRan) with the next due in msUntilDue,
// whether to draw: natively when frames ran, in the browser when the display
// has refreshed since the last picture.
Uint32 linkWaitMs(Uint32 waitMs);
Wake pictureAfterFrames(bool framesRan, Uint32 msUntilDue);

// How long a picture takes the other player's paddle to its place in the
// match when an online correction has moved it: natively 0, at once, as the
// frames are drawn; in the browser a few refreshes.
extern const double CORRECTION_EASE_MS;
