// Replays: matches recorded through MatchRecorder replay to their recorded
// end, each second of play is in the file as it is played, cut anywhere it
// holds a match cut off, a changed seed, pace or length is seen, and damaged
// files are refused with one line and status 1. The rules and the recordings
// alone: this program links no SDL library.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

#include "match.h"
#include "replay.h"
#include "verify.h"
#include "version.h"

namespace {
constexpr int MATCHES = 4;
constexpr double KEY_TOGGLE_CHANCE = 0.1;
constexpr double LEAVE_CHANCE = 1.0 / 3000;

std::string fileBytes(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

Result<ReplayContents> decode(const std::string &bytes) {
    return decodeReplay(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

// A file of MATCHES matches recorded as the match loop runs them, with random
// held keys and frame lengths, one or two players and each ball.
class ReplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/korrin-replay-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        path_ = folder_ + "/matches.krp";
        std::mt19937 random(20261208);
        std::uniform_int_distribution<int> frameMs(0, MAX_RECORDED_FRAME_MS);
        std::bernoulli_distribution toggle(KEY_TOGGLE_CHANCE), leave(LEAVE_CHANCE);
        MatchRecorder recorder;
        ASSERT_TRUE(recorder.open(path_).ok());
        for (int i = 0; i < MATCHES; ++i) {
            const MatchStart start = {static_cast<int32_t>(random()),
                                      static_cast<uint8_t>(1 + i % 2), static_cast<uint8_t>(i)};
            startMatch(start);
            recorder.beginMatch(start);
            FrameInput input{};
            while (quitFlag == 0) {
                for (bool *key : {&input.up[0], &input.down[0], &input.up[1], &input.down[1]})
                    *key = *key != toggle(random);
                input.leave = leave(random);
                const int ms = frameMs(random);
                recorder.addFrame(input, ms);
                runFrame(input, ms);
            }
            ASSERT_TRUE(recorder.finishMatch(currentMatchEnd()).ok());
            // Whole after every match, whatever happens to the game later.
            ASSERT_EQ(readReplayFile(path_).value.matches.size(), static_cast<size_t>(i + 1));
        }
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf " + folder_).c_str()), 0); }
    std::string folder_, path_;
};

TEST_F(ReplayTest, RecordedMatchesReplayToTheirEndAndChangesAreSeen) {
    const Result<ReplayContents> read = readReplayFile(path_);
    ASSERT_EQ(read.error, "");
    const ReplayContents &contents = read.value;
    EXPECT_EQ(contents.gameVersion, GAME_VERSION);
    const std::function<void(RecordedMatch &)> changes[] = {
        [](RecordedMatch &m) { m.start.seed += 1; },
        [](RecordedMatch &m) {
            for (RecordedFrame &frame : m.frames) // a slower pace
                frame.ms = static_cast<uint8_t>(frame.ms * 9 / 10);
        },
        [](RecordedMatch &m) { m.frames.pop_back(); },                 // cut short
        [](RecordedMatch &m) { m.frames.push_back(m.frames.back()); }, // a frame too many
        [](RecordedMatch &m) {                                         // cut off after its end
            m.frames.push_back(m.frames.back());
            m.cutOff = true;
        },
    };
    for (int i = 0; i < MATCHES; ++i) {
        SCOPED_TRACE(i);
        const RecordedMatch &match = contents.matches[i];
        EXPECT_EQ(match.start.players, 1 + i % 2);
        EXPECT_EQ(match.start.ballType, i);
        EXPECT_TRUE(replaysAsRecorded(match));
        for (size_t c = 0; c < std::size(changes); ++c) {
            RecordedMatch changed = match;
            changes[c](changed);
            EXPECT_FALSE(replaysAsRecorded(changed)) << "change " << c;
        }
    }
}

TEST_F(ReplayTest, DamagedFilesAreRefusedWithOneLineAndStatusOne) {
    const std::string good = fileBytes(path_);
    const size_t headerSize = encodeReplayHeader(GAME_VERSION).size();
    // Version 1, as the game wrote it before: each match whole as it ended.
    const std::string older =
        fileBytes(KORRIN_SOURCE_DIR "/tests/replays/two-player-escape-ball1.krp");
    const auto withByte = [](std::string bytes, size_t at, char value) {
        bytes[at] = value;
        return bytes;
    };
    // The first match, written again with a right checksum after a change
    // (cut: the file cut off inside the match after its last block).
    const auto changed = [&](const std::function<void(RecordedMatch &)> &change, bool cut = false) {
        RecordedMatch match = readReplayFile(path_).value.matches[0];
        match.cutOff |= cut;
        change(match);
        return good.substr(0, headerSize) + encodeMatchRecord(match);
    };
    const struct {
        std::string prepare; // "missing", "folder", "oversized", "largest", or the file's bytes
        std::string line;    // after "Replay file PATH: "
    } cases[] = {
        {"missing", "cannot be opened: No such file or directory"},
        {"folder", "not a regular file"},
        {"oversized", "too large for a replay (16777217 bytes, at most 16777216)"},
        {"largest", "not a Korrin Tavrel replay"}, // read, then refused for its bytes
        {"", "empty file, not a replay"},
        {"Korrin Tavrel, the game", "not a Korrin Tavrel replay"},
        {withByte(good, 8, 0), "replay format version 0, this game reads versions 1 to 2"},
        {withByte(good, 8, 3), "replay format version 3, this game reads versions 1 to 2"},
        {good.substr(0, 9), "truncated in its header"},
        {encodeReplayHeader(std::string(33, 'v')), "corrupted header (game version of 33 bytes)"},
        {encodeReplayHeader(std::string(32, 'v')), "holds no match"},
        {good.substr(0, headerSize), "holds no match"},
        {good.substr(0, headerSize + 9), "match 1 is truncated"}, // its start torn
        {withByte(good, headerSize + 20, good[headerSize + 20] ^ 4),
         "match 1 is corrupted (checksum mismatch)"},
        {changed([](RecordedMatch &m) { m.start.players = 9; }),
         "match 1 is corrupted (a number of players of 9)"},
        {changed([](RecordedMatch &m) { m.frames.back().ms = 251; }),
         "match 1 is corrupted (a frame of 251 ms)"},
        {changed([](RecordedMatch &m) { m.frames.clear(); }), "match 1 is corrupted (no frames)"},
        // Cut off by a killed game: the values it holds are checked all the same.
        {changed([](RecordedMatch &m) { m.start.players = 0; }, true),
         "match 1 is corrupted (a number of players of 0)"},
        {changed([](RecordedMatch &m) { m.start.players = 3; }, true),
         "match 1 is corrupted (a number of players of 3)"},
        {changed([](RecordedMatch &m) { m.start.ballType = BALL_TYPES; }, true),
         "match 1 is corrupted (ball 4)"},
        {changed([](RecordedMatch &m) { m.frames[1].buttons = ALL_FRAME_BUTTONS + 1; }, true),
         "match 1 is corrupted (unknown buttons in frame 2)"},
        {changed([](RecordedMatch &m) { m.frames.back().ms = MAX_RECORDED_FRAME_MS + 1; }, true),
         "match 1 is corrupted (a frame of 251 ms)"},
        {older.substr(0, older.size() - 1), "match 1 is truncated"}, // no cut in version 1
        {withByte(older, 25, '\x7f'), "match 1 is truncated"},       // a frame count too large
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const std::string path = c.prepare == "folder" ? folder_ : folder_ + "/damaged.krp";
        unlink(path.c_str());
        const bool sized = c.prepare == "oversized" || c.prepare == "largest";
        if (c.prepare != "missing" && c.prepare != "folder")
            std::ofstream(path, std::ios::binary) << (sized ? "" : c.prepare);
        if (sized) { // sparse: it takes no room on the disk
            ASSERT_EQ(truncate(path.c_str(), MAX_REPLAY_FILE_BYTES + (c.prepare == "oversized")),
                      0);
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(verifyRecordedMatches(path).error, "Replay file " + path + ": " + c.line);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // no match was played
    }
}

// Each row's match is the second of a file whose first ended halfway through
// a block; then the file is cut at every byte.
TEST_F(ReplayTest, EachSecondOfPlayIsInTheFileAsItIsPlayedAndACutAnywhereKeepsWhatWasWritten) {
    const MatchEnd left = {{0, 0}, -1, 0, 0};
    const struct {
        std::vector<int> ms; // the frames' lengths
        size_t inPlay;       // the frames in the file once they are added
        bool gameGone;       // the game then ends at once, or finishes the match
        size_t kept;         // the frames in the file at the end
        std::string refused; // the frame refused, as finishMatch says it
    } cases[] = {
        {{250, 250, 250, 249}, 0, false, 4, ""},
        {{250, 250, 250, 250}, 4, true, 4, ""},
        {{250, 250, 250, 250, 30}, 4, true, 5, ""},
        {std::vector<int>(254, 0), 0, true, 254, ""},
        {std::vector<int>(255, 0), 255, false, 255, ""},
        {{250, 251, 3}, 1, false, 1, "251"},
        {{-1}, 0, false, 0, "-1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kept);
        const std::string path = folder_ + "/row.krp";
        MatchRecorder recorder;
        ASSERT_TRUE(recorder.open(path).ok());
        recorder.beginMatch({1, 2, 0});
        for (const int ms : {250, 250, 100})
            recorder.addFrame({}, ms);
        ASSERT_TRUE(recorder.finishMatch(left).ok());
        recorder.beginMatch({1, 2, 0});
        for (const int ms : c.ms)
            recorder.addFrame({}, ms);
        const auto inFile = [&] { return decode(fileBytes(path)).value.matches.at(1); };
        EXPECT_EQ(inFile().frames.size(), c.inPlay);
        if (c.gameGone)
            saveRecordingCutOff();
        else
            EXPECT_EQ(recorder.finishMatch(left).error,
                      c.refused.empty()
                          ? ""
                          : "Replay file " + path + ": a frame of " + c.refused +
                                " ms cannot be recorded: the recording ends before it");
        EXPECT_EQ(inFile().frames.size(), c.kept);
        EXPECT_EQ(inFile().cutOff, c.gameGone || !c.refused.empty());

        // Cut anywhere: the matches written so far, the last one cut off
        // after its start, or a refusal (in the header or a start: torn writes).
        const std::string bytes = fileBytes(path);
        const std::vector<RecordedMatch> all = decode(bytes).value.matches;
        const size_t ends[] = {bytes.size() - encodeMatchRecord(all[1]).size(), bytes.size()};
        const size_t firstStart = encodeReplayHeader(GAME_VERSION).size();
        size_t seen = 0; // the frames read at a shorter cut: never fewer at a longer one
        for (size_t size = 0; size <= bytes.size(); ++size) {
            const Result<ReplayContents> read = decode(bytes.substr(0, size));
            ASSERT_EQ(read.ok(),
                      size >= firstStart + 10 && (size <= ends[0] || size >= ends[0] + 10))
                << size;
            if (!read.ok())
                continue; // a refusal hands out no match
            size_t frames = 0;
            for (size_t m = 0; m < read.value.matches.size(); ++m) {
                RecordedMatch expected = all[m];
                expected.frames.resize(
                    std::min(read.value.matches[m].frames.size(), expected.frames.size()));
                expected.cutOff = all[m].cutOff || size < ends[m];
                EXPECT_EQ(encodeMatchRecord(read.value.matches[m]), encodeMatchRecord(expected))
                    << size;
                frames += expected.frames.size();
            }
            EXPECT_GE(frames, seen) << size;
            seen = frames;
        }
    }
}
} // namespace
