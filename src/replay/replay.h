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

// Writes matches to a replay file while they are played: a match's start as
// it begins, its frames a block at a time (each second of play, see
// replayfile.h), its end as it ends, synced to the disk then. A game killed
// mid-match leaves the file holding that match cut off, less than a second of
// play before the kill, and every match before it whole. Use: open once, then
// for every match beginMatch, addFrame for each frame run, finishMatch.
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
    // MAX_RECORDED_FRAME_MS (a longer frame ends the recording before it,
    // with the match cut off there).
    void addFrame(const FrameInput &input, int elapsedMs);
    // Appends the rest of the match and its end state to the file. After a
    // failed write or a frame too long, says so instead and closes the file.
    Status finishMatch(const MatchEnd &end);
    // The game ends at once, mid-match: the frames of no block yet go to the
    // file, synced, which then holds the match cut off at its last frame.
    void saveCutOff();

  private:
    // Writes the bytes, synced when asked; false after saying so in failed_.
    bool write(const std::string &bytes, bool sync);
    // Stops recording before the frames to come, keeping the line that says why.
    void stop(const std::string &why);

    FILE *file_ = nullptr;
    std::string path_;
    MatchRecordEncoder match_; // the match being recorded
    Status failed_;            // why the recording stopped, told by finishMatch
};

// The game ends at once (its display is gone): the match being recorded, if
// any, is saved cut off at its last frame (MatchRecorder::saveCutOff).
void saveRecordingCutOff();

// ---- The local matches of this run (--record FILE)
// Opens the file that every match of this run is written to; the error
// names the file and what went wrong.
Status startRecording(const std::string &path);
// The match loop's hooks; they do nothing unless startRecording succeeded.
void recordMatchStart(const MatchStart &start);
void recordFrame(const FrameInput &input, int elapsedMs);
void recordMatchEnd();
