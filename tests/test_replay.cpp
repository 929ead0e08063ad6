// Replays: matches recorded through MatchRecorder replay to their recorded
// end, the file is whole after every match, a changed seed, pace or length is
// seen, and damaged files are refused with one line and status 1. The rules
// and the recordings alone: this program links no SDL library.
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
    std::ifstream file(path_, std::ios::binary);
    const std::string good{std::istreambuf_iterator<char>(file), {}};
    const size_t headerSize = encodeReplayHeader(GAME_VERSION).size();
    const auto withByte = [&](size_t at, char value) {
        std::string bytes = good;
        bytes[at] = value;
        return bytes;
    };
    RecordedMatch hostile = readReplayFile(path_).value.matches[0]; // with a right checksum, but
    hostile.start.players = 9;
    const struct {
        std::string prepare; // "missing", "folder", "oversized", or the file's bytes
        std::string line;    // after "Replay file PATH: "
    } cases[] = {
        {"missing", "cannot be opened: No such file or directory"},
        {"folder", "not a regular file"},
        {"oversized", "too large for a replay (16777217 bytes, at most 16777216)"},
        {"", "empty file, not a replay"},
        {"Korrin Tavrel, the game", "not a Korrin Tavrel replay"},
        {withByte(8, 2), "replay format version 2, this game reads version 1"},
        {good.substr(0, 9), "truncated in its header"},
        {good.substr(0, headerSize), "holds no match"},
        {good.substr(0, good.size() - 1), "match 4 is truncated"},
        {withByte(headerSize + 20, good[headerSize + 20] ^ 4),
         "match 1 is corrupted (checksum mismatch)"},
        {withByte(headerSize + 9, '\x7f'), "match 1 is truncated"}, // a frame count too large
        {good.substr(0, headerSize) + encodeMatchRecord(hostile),
         "match 1 is corrupted (a number of players of 9)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const std::string path = c.prepare == "folder" ? folder_ : folder_ + "/damaged.krp";
        unlink(path.c_str());
        if (c.prepare != "missing" && c.prepare != "folder")
            std::ofstream(path, std::ios::binary) << (c.prepare == "oversized" ? "" : c.prepare);
        if (c.prepare == "oversized") { // sparse: it takes no room on the disk
            ASSERT_EQ(truncate(path.c_str(), MAX_REPLAY_FILE_BYTES + 1), 0);
        }
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        EXPECT_EQ(verifyRecordedMatches(path), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Replay file " + path + ": " + c.line + "\n");
    }
}
} // namespace
