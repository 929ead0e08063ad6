// The clock of the match and menu loops: their pace, and the length of each
// local frame. The rules never read it: they are told a frame's length.
#pragma once

#include <SDL.h>

// Waits until FRAME_PERIOD_MS have passed since the previous call returned.
// Called before every frame of a local match and every pass of the menu.
void waitForNextFrame();
// The ms left until waitForNextFrame would return, 0 when it would at once.
Uint32 msUntilNextFrame();

// The milliseconds since the previous frame by SDL's clock. The first frame
// after a restart counts 30 ms more than the time since the restart, and a
// frame longer than LONGEST_FRAME_MS (a stall) counts 30 ms: the match
// carries on as from a restarted clock instead of jumping ahead. A match's
// start restarts the clock through resetGame, which this clears.
int measureFrameMs();
// Restarts the frame clock now, as a match's start does: the match coming off
// hold counts its next frame from here.
void restartFrameClock();
