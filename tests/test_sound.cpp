// Sound effects: volume and stereo position set before every play, channels
// replaced by a new play, and failures reported.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "harness.h"
#include "sound.h"

namespace {
using harness::Tone;

struct Loudness {
    long left = 0;
    long right = 0;
};

// Plays a record to its end and measures what reached each output channel.
Loudness playAndMeasure(SND_Data record) {
    SDL_Delay(100); // let earlier output reach the file
    const size_t start = harness::diskAudioSamples().size();
    EXPECT_EQ(playSound(&record), 0);
    while (Mix_Playing(record.channel))
        SDL_Delay(5);
    SDL_Delay(100);
    const std::vector<Sint16> samples = harness::diskAudioSamples();
    Loudness loudness;
    for (size_t i = start - start % 2; i + 1 < samples.size(); i += 2) {
        loudness.left += std::abs(samples[i]);
        loudness.right += std::abs(samples[i + 1]);
    }
    return loudness;
}

class SoundTest : public ::testing::Test {
  protected:
    void SetUp() override { harness::startGame(); }
};
} // namespace

TEST_F(SoundTest, AngleAndDistancePlaceTheSound) {
    Tone tone(60);
    struct Case {
        Sint16 angle;
        bool leftHeard, rightHeard;
    } cases[] = {{90, false, true}, {270, true, false}, {0, true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.angle);
        const Loudness heard = playAndMeasure({255, 0, c.angle, tone.chunk, HIT_CHANNEL, 0});
        EXPECT_EQ(heard.left > 0, c.leftHeard) << heard.left;
        EXPECT_EQ(heard.right > 0, c.rightHeard) << heard.right;
    }
}

TEST_F(SoundTest, CentredSoundIsEqualOnBothSides) {
    Tone tone(60);
    const Loudness heard = playAndMeasure({255, 0, 0, tone.chunk, WALL_CHANNEL, 0});
    EXPECT_GT(heard.left, 0);
    EXPECT_EQ(heard.left, heard.right);
}

TEST_F(SoundTest, EachPlayTakesItsOwnRecordsPosition) {
    // The menu's distant sound and then a centred wall sound share channel 2:
    // the wall sound must be as loud as one that never followed the menu.
    Tone tone(60);
    const Loudness alone = playAndMeasure({255, 0, 0, tone.chunk, WALL_CHANNEL, 0});
    const Loudness distant = playAndMeasure({255, 100, 0, tone.chunk, WALL_CHANNEL, 0});
    const Loudness after = playAndMeasure({255, 0, 0, tone.chunk, WALL_CHANNEL, 0});
    EXPECT_LT(distant.left, alone.left);
    EXPECT_EQ(after.left, alone.left);
    EXPECT_EQ(after.right, alone.right);
}

TEST_F(SoundTest, VolumeIsSetBeforeEveryPlay) {
    Tone tone(60);
    Mix_Volume(HIT_CHANNEL, 10);
    SND_Data record = {255, 0, 0, tone.chunk, HIT_CHANNEL, 0};
    ASSERT_EQ(playSound(&record), 0);
    EXPECT_EQ(Mix_Volume(HIT_CHANNEL, -1), MIX_MAX_VOLUME);
}

TEST_F(SoundTest, APlayReplacesWhatItsChannelWasPlaying) {
    Tone first(2000), second(2000), wall(2000);
    SND_Data hit1 = {255, 0, 270, first.chunk, HIT_CHANNEL, 0};
    SND_Data hit2 = {255, 0, 90, second.chunk, HIT_CHANNEL, 0};
    SND_Data bounce = {255, 0, 0, wall.chunk, WALL_CHANNEL, 0};
    ASSERT_EQ(playSound(&hit1), 0);
    ASSERT_EQ(playSound(&bounce), 0);
    ASSERT_EQ(playSound(&hit2), 0);
    EXPECT_EQ(Mix_GetChunk(HIT_CHANNEL), second.chunk);
    EXPECT_EQ(Mix_GetChunk(WALL_CHANNEL), wall.chunk); // the wall sound still plays beside it
    EXPECT_EQ(Mix_Playing(-1), 2);
}

TEST_F(SoundTest, FailuresPrintTheirLineAndReturnOne) {
    Tone tone(60);
    {
        SND_Data badChannel = {255, 0, 90, tone.chunk, 7, 0}; // only 4 channels exist
        harness::StdoutCapture out;
        EXPECT_EQ(playSound(&badChannel), 1);
        const std::vector<std::string> lines = out.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], std::string("Mix_SetPosition: ") + SDL_GetError());
    }
    {
        SND_Data noChunk = {255, 0, 0, nullptr, HIT_CHANNEL, 0};
        harness::StdoutCapture out;
        EXPECT_EQ(playSound(&noChunk), 1);
        const std::vector<std::string> lines = out.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], std::string("Mix_PlayChannel: ") + SDL_GetError());
    }
}
