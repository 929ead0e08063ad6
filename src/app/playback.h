// Recorded matches shown again in the window at their recorded pace, with
// their sounds and game-over pictures (--replay FILE).
#pragma once

#include <vector>

#include "failure.h"
#include "replayfile.h"

// Shows the matches in order. Escape or a close request ends the whole
// replay. Fails, as beginMatch does, when a match's assets cannot be loaded.
// Needs initGame.
Status showRecordedMatches(const std::vector<RecordedMatch> &matches);
