// The replay file: its bytes, written and read. Pure data, no SDL and no game
// state, so that the reader can be fuzzed on its own. The layout is described
// in docs/replay-format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The bytes every replay file starts with, and the layout's version.
constexpr char REPLAY_MAGIC[8] = {'K', 'T', 'R', 'E', 'P', 'L', 'A', 'Y'};
constexpr uint16_t REPLAY_FORMAT_VERSION = 1;
// A longer frame is refused: the match loop never measures more than this.
constexpr int MAX_RECORDED_FRAME_MS = 250;
// Larger files are refused before anything is read (some hours of matches).
constexpr long MAX_REPLAY_FILE_BYTES = 16L * 1024 * 1024;
// The longest game version string a header may carry.
constexpr size_t MAX_GAME_VERSION_LENGTH = 32;

// One frame's held commands as bits, and the milliseconds the frame lasted.
enum FrameButton : uint8_t {
    BUTTON_UP_1 = 1 << 0,
    BUTTON_DOWN_1 = 1 << 1,
    BUTTON_UP_2 = 1 << 2,
    BUTTON_DOWN_2 = 1 << 3,
    BUTTON_LEAVE = 1 << 4,
};
constexpr uint8_t ALL_FRAME_BUTTONS = 0x1f;
struct RecordedFrame {
    uint8_t buttons;
    uint8_t ms;
};

// What a match starts from.
struct MatchStart {
    int32_t seed = 0;    // the generator's state as the first frame begins
    uint8_t players = 1; // 1 against the computer, 2 two players
    uint8_t ballType = 0;
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

// The result of reading a file: the matches, or what is wrong with it.
struct ReplayContents {
    std::string gameVersion;
    std::vector<RecordedMatch> matches;
    std::string error; // empty when the file was read whole
};

// Reads a replay held in memory. Never reads past size, and allocates no more
// than the frames the bytes really hold.
ReplayContents decodeReplay(const uint8_t *data, size_t size);
// Reads the file; its error names the file, and says what is wrong in a few words.
ReplayContents readReplayFile(const std::string &path);
