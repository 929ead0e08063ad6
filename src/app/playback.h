// Recorded matches shown again in the window at their recorded pace, drawn
// as a match is (pace.h), with their sounds and game-over pictures
// (--replay FILE).
#pragma once

#include <vector>

#include "failure.h"
#include "replayfile.h"

// Shows the matches in order. Escape or a close request ends the whole
// replay. Fails, as beginMatch does, when a match's assets cannot be loaded.
// Its value: a last match cut off was shown to its last frame, and the line
// that says so printed. Needs initGame.
Result<bool> showRecordedMatches(const std::vector<RecordedMatch> &matches);
