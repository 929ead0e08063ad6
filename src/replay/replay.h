// Recording matches: a recorder that writes a match's start, its frames and
// its end state to a replay file (see replayfile.h), and the hooks through
// which the local match loop records every match of a run (--record FILE).
// An online match records through a MatchRecorder of its own.
#pragma once

#include <cstdio>
#include <string>

#include "commands.h"
#include "failure.h"
#include "replayfile.h"

// How the match that has just ended stands: the scores, quitFlag, the
// generator's state and matchHash(). Taken after the last frame.
MatchEnd currentMatchEnd();

// Writes matches to a replay file, one whole record per match, flushed to
// the disk as the match ends: the file is complete after each match, also
// when the game is killed later. Use: open once, then for every match
// beginMatch, addFrame for each frame run, finishMatch.
class MatchRecorder {
  public:
    MatchRecorder() = default;
    ~MatchRecorder();
    MatchRecorder(const MatchRecorder &) = delete;
    MatchRecorder &operator=(const MatchRecorder &) = delete;

    // Creates the file (or empties it) and writes its header; the error
    // names the file and what went wrong.
    Status open(const std::string &path);
    bool isOpen() const { return file_ != nullptr; }
    void beginMatch(const MatchStart &start);
    // A frame as the rules ran it: its commands and its length, 0 to
    // MAX_RECORDED_FRAME_MS (a longer frame leaves the match out of the file).
    void addFrame(const FrameInput &input, int elapsedMs);
    // Appends the match and its end state to the file; after a failed write
    // the recorder is closed.
    Status finishMatch(const MatchEnd &end);

  private:
    // Closes the file after a failed write and returns the line that says so.
    Status cannotWrite();

    FILE *file_ = nullptr;
    std::string path_;
    RecordedMatch match_;
    int overlongFrameMs_ = 0; // the first frame too long to keep, 0 when none
};

// ---- The local matches of this run (--record FILE)
// Opens the file that every match of this run is written to; the error
// names the file and what went wrong.
Status startRecording(const std::string &path);
// The match loop's hooks; they do nothing unless startRecording succeeded.
void recordMatchStart(const MatchStart &start);
void recordFrame(const FrameInput &input, int elapsedMs);
void recordMatchEnd();
