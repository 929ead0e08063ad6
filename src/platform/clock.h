// The clock of the match and menu loops: their pace, and the length of each
// local frame. The rules never read it: they are told a frame's length.
#pragma once

#include <SDL.h>

// Waits until FRAME_PERIOD_MS have passed since the previous call returned.
// Called before every frame of a local match and every pass of the menu.
void waitForNextFrame();
// The ms left until waitForNextFrame would return, 0 when it would at once.
Uint32 msUntilNextFrame();

// The milliseconds since the previous frame by SDL's clock; the first frame
// after resetGame is set counts as 30 ms, and so does a frame that took over
// a quarter of a second (a stall: the clock restarts rather than the match
// jumping ahead).
int measureFrameMs();
