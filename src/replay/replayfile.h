// The replay file: its bytes, written and read. Pure data, no SDL and no game
// state, so that the reader can be fuzzed on its own. The layout is described
// in docs/replay-format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "failure.h"

// The bytes every replay file starts with, and the layout's version: the
// recorder writes version 2; version 1 files, whose every match was written
// whole as it ended, still read.
constexpr char REPLAY_MAGIC[8] = {'K', 'T', 'R', 'E', 'P', 'L', 'A', 'Y'};
constexpr uint16_t REPLAY_FORMAT_VERSION = 2;
constexpr uint16_t OLDEST_REPLAY_FORMAT_VERSION = 1;
// A longer frame is refused: the match loop never measures more than this.
constexpr int MAX_RECORDED_FRAME_MS = LONGEST_FRAME_MS;
// Larger files are refused before anything is read (some hours of matches).
constexpr long MAX_REPLAY_FILE_BYTES = 16L * 1024 * 1024;
// Version 2 writes a match while it is played, a block of frames at a time:
// the recorder ends a block with the frame that brings its play to
// BLOCK_PLAY_MS, or with its MAX_BLOCK_FRAMES-th frame, so a game killed
// mid-match loses less than a second of play.
constexpr int BLOCK_PLAY_MS = 1000;
constexpr size_t MAX_BLOCK_FRAMES = 255;

// One frame: its commands as buttons (encodeFrameInput), and the
// milliseconds it lasted.
struct RecordedFrame {
    uint8_t buttons;
    uint8_t ms;
};

// How it ended: enough to print its result and to compare the whole state.
struct MatchEnd {
    uint8_t scores[2] = {0, 0};
    int8_t quitFlag = 0; // 1 or 2 the winner, -1 left
    int32_t seed = 0;    // the generator's state after the last frame
    uint64_t hash = 0;   // matchHash() after the last frame
};

struct RecordedMatch {
    MatchStart start;
    std::vector<RecordedFrame> frames;
    MatchEnd end;
    // The file ends inside this match (the game was killed, or lost its
    // display): it holds the frames up to its last whole block, and no end.
    bool cutOff = false;
};

// The file's header.
std::string encodeReplayHeader(const std::string &gameVersion);

// One match's record, made piece by piece while the match is played: its
// start, each block of frames as it fills, and the end. Every piece ends with
// the CRC-32 of the record's bytes up to it, so that a file cut anywhere
// holds a checked start of the match it was cut in.
class MatchRecordEncoder {
  public:
    // The start's piece.
    std::string start(const MatchStart &start);
    // A frame of the match: the block it fills, or nothing.
    std::string addFrame(const RecordedFrame &frame);
    // The frames that fill no block yet, as a block: where a match is cut off.
    std::string rest();
    // rest(), then the end's piece.
    std::string end(const MatchEnd &end);

  private:
    std::string sealed(std::string piece);

    uint32_t crc_ = 0; // the record's running CRC-32 register
    std::vector<RecordedFrame> block_;
    int blockMs_ = 0;
};

// A whole match's record (of a match cut off, the pieces a game killed then
// has written).
std::string encodeMatchRecord(const RecordedMatch &match);

// What a whole file holds. Only the last match may be cut off.
struct ReplayContents {
    std::string gameVersion;
    std::vector<RecordedMatch> matches;
};

// Reads a replay held in memory: the matches, or what is wrong with it.
// Never reads past size, and allocates no more than the frames the bytes
// really hold.
Result<ReplayContents> decodeReplay(const uint8_t *data, size_t size);
// Reads the file; its error names the file, and says what is wrong in a few words.
Result<ReplayContents> readReplayFile(const std::string &path);
