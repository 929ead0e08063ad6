// Recorded matches run through the rules again: the one loop that both
// --verify (as fast as it can, silently) and --replay (at the recorded pace,
// on the screen) step frames with, and the check of --verify.
#pragma once

#include <functional>
#include <string>

#include "failure.h"
#include "match.h"
#include "replayfile.h"

// Starts the recorded match and runs its frames through the rules, until
// the match ends, its frames run out or beforeFrame says no; afterFrame is
// told each frame's sounds. True when every frame ran (a match that ends
// before its last recorded frame was not recorded from this game).
bool runRecordedMatch(const RecordedMatch &match,
                      const std::function<bool(const RecordedFrame &)> &beforeFrame,
                      const std::function<void(FrameSounds)> &afterFrame);

// Runs one match silently and says whether it plays as recorded: to its
// recorded end state, or, cut off, to its last frame without ending sooner.
// Needs no SDL.
bool replaysAsRecorded(const RecordedMatch &match);

// Prints the line of the match numbered `number` (from 1) that has just run:
// its score, its length, and whether it played as recorded or was cut off.
void printMatchLine(size_t number, const RecordedMatch &match, bool asRecorded);

// How the matches of a file played again: all as recorded; all as recorded,
// the last cut off (the game was killed mid-match: every match before the
// cut whole, the last one to its last frame); or one not as recorded.
enum class Verdict { AsRecorded, CutOff, Differs };

// Runs every match of the file, printing one line for each, and gives the
// file's verdict. Fails, naming the file, when it cannot be read.
Result<Verdict> verifyRecordedMatches(const std::string &path);
