// Shared ground of the match tests: the media started and the fake clock on;
// for MatchTest also the match's images and sounds loaded and the layout
// reset, as startGame leaves things just before its first frame.
#pragma once

#include <gtest/gtest.h>

#include "game.h"
#include "harness.h"
#include "init.h"

// Frees what loadImages and loadSounds loaded and the score texts, as the end
// of a match does, so that every test leaves the globals as it found them.
inline void releaseMatchMedia() {
    Mix_HaltChannel(-1);
    for (SND_Data *sound : {&hitSound, &wallSound}) {
        Mix_FreeChunk(sound->chunk);
        sound->chunk = nullptr;
    }
    for (SDL_Surface **surface : {&scoreText[0], &scoreText[1], &bgGame, &sprites}) {
        SDL_FreeSurface(*surface);
        *surface = nullptr;
    }
}

// The media started, the fake clock on at START_TICKS with nothing recorded,
// no key held, two players and the first ball.
class FakeClockTest : public ::testing::Test {
  protected:
    static constexpr Uint32 START_TICKS = 1000;

    void SetUp() override {
        harness::startGame();
        ASSERT_FALSE(HasFatalFailure());
        fake::reset();
        fake::clockIsFake = true;
        fake::now = START_TICKS;
        harness::releaseAllKeys();
        numPlayers = 2;
        ballType = 0;
    }

    void TearDown() override {
        harness::releaseAllKeys();
        fake::reset();
    }
};

class MatchTest : public FakeClockTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(FakeClockTest::SetUp());
        ASSERT_EQ(loadImages(), 0);
        ASSERT_EQ(loadSounds(), 0);
        quitFlag = 0;
        resetAll();
    }

    void TearDown() override {
        releaseMatchMedia();
        FakeClockTest::TearDown();
    }

    // The first frame of the match, with the ball still waiting: it uses up
    // the restart of the clock, so the next frame at the same reading has
    // the factor 0 and moves nothing.
    static void runFirstFrame() { updateState(); }

    // The ball in play at (x, y), with its countdown run out.
    static void putBallInPlay(Sint16 x, Sint16 y, double speedX = 14.0, double speedY = 14.0) {
        TavrelBall.pauseTime = 0.0;
        TavrelBall.setSpeed(speedX, speedY);
        TavrelBall.worldRect.x = x;
        TavrelBall.worldRect.y = y;
    }
};
