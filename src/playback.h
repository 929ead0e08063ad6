// Recorded matches played again: shown in the window at their recorded pace
// (--replay FILE), or run without window and sound as fast as possible and
// compared with their recorded end (--verify FILE).
#pragma once

#include <vector>

#include "replayfile.h"

// Shows the matches in order, each at its recorded pace with its sounds and
// its game-over picture. Escape or a close request ends the whole replay.
// Needs initGame.
void showRecordedMatches(const std::vector<RecordedMatch> &matches);

// Runs one match's frames through the rules from its start, silently, and
// says whether it ends in the recorded end state. Needs no SDL.
bool replaysAsRecorded(const RecordedMatch &match);

// Runs every match of the file, printing one line for each: its final score
// and whether its end state is the recorded one. 0 when all are, 1 when one
// is not or the file cannot be read (one line on standard error).
int verifyRecordedMatches(const std::string &path);
