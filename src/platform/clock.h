// The clock of the match and menu loops: their pace, and the length of each
// local frame. The rules never read it: they are told a frame's length.
#pragma once

// Waits until FRAME_PERIOD_MS have passed since the previous call returned.
// Called once at the top of every pass of the match and menu loops.
void waitForNextFrame();

// The milliseconds since the previous frame by SDL's clock; the first frame
// after resetGame is set counts as 30 ms, and so does a frame that took over
// a quarter of a second (a stall: the clock restarts rather than the match
// jumping ahead).
int measureFrameMs();
