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

// The bytes every replay file starts with, and the layout's version.
constexpr char REPLAY_MAGIC[8] = {'K', 'T', 'R', 'E', 'P', 'L', 'A', 'Y'};
constexpr uint16_t REPLAY_FORMAT_VERSION = 1;
// A longer frame is refused: the match loop never measures more than this.
constexpr int MAX_RECORDED_FRAME_MS = LONGEST_FRAME_MS;
// Larger files are refused before anything is read (some hours of matches).
constexpr long MAX_REPLAY_FILE_BYTES = 16L * 1024 * 1024;

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
};

// The file's header, then each match as one record: a file is whole after
// every appended record.
std::string encodeReplayHeader(const std::string &gameVersion);
std::string encodeMatchRecord(const RecordedMatch &match);

// What a whole file holds.
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
