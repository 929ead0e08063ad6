// Recorded matches run through the rules again: the one loop that both
// --verify (as fast as it can, silently) and --replay (at the recorded pace,
// on the screen) step frames with, and the check of --verify.
#pragma once

#include <functional>
#include <string>

#include "match.h"
#include "replayfile.h"

// Starts the recorded match and runs its frames through the rules, until
// the match ends, its frames run out or beforeFrame says no; afterFrame is
// told each frame's sounds. True when every frame ran (a match that ends
// before its last recorded frame was not recorded from this game).
bool runRecordedMatch(const RecordedMatch &match,
                      const std::function<bool(const RecordedFrame &)> &beforeFrame,
                      const std::function<void(FrameSounds)> &afterFrame);

// Runs one match silently and says whether it ends in the recorded end
// state. Needs no SDL.
bool replaysAsRecorded(const RecordedMatch &match);

// Runs every match of the file, printing one line for each: its final score
// and whether its end state is the recorded one. 0 when all are, 1 when one
// is not or the file cannot be read (one line on standard error).
int verifyRecordedMatches(const std::string &path);
