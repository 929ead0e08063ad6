// Recorded matches shown again in the window at their recorded pace, with
// their sounds and game-over pictures (--replay FILE).
#pragma once

#include <vector>

#include "replayfile.h"

// Shows the matches in order. Escape or a close request ends the whole
// replay. A last match cut off, once shown to its last frame, gets the line
// that says so, and the result is CUT_OFF_STATUS; otherwise 0. Needs initGame.
int showRecordedMatches(const std::vector<RecordedMatch> &matches);
