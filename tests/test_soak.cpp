// Physics soak: whole matches driven frame by frame through runFrame, as the
// match loop runs them, with random held keys and random frame times
// measured on the clock, which wraps past 2^32 now and then. After every
// frame the rules that must always hold are checked: paddles and ball inside
// their bounds, scores growing by one point at a time up to the end of the
// match, quitFlag on its listed values, sizes and sprite regions unchanged,
// the time factor matching the frame, and a paddle's sound with each return.
//
// The run is seeded and prints its seed. A failure names the seed and frame
// that reproduce it; re-run with, for example,
//   KORRIN_SOAK_SEED=12345 KORRIN_SOAK_FRAMES=1000000 build/tests/test_soak
// By default it soaks a million frames, some seconds in either build; a longer
// soak sets KORRIN_SOAK_FRAMES.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include "game.h"
#include "harness.h"
#include "init.h"
#include "randgen.h"

namespace {
constexpr long DEFAULT_FRAMES = 1000000;
// Drawing is the dearest part of a frame; every frame still runs the update,
// and every DRAW_EVERY_N_FRAMES-th frame is drawn as well.
constexpr long DRAW_EVERY_N_FRAMES = 8;

constexpr Uint32 MAX_FRAME_MS = 200;
constexpr float MS_PER_TIME_UNIT = 60.0f;
constexpr float FIRST_FRAME_TIME_FACTOR = 0.5f; // 30 ms, both clock readings equal
// Per frame: the chance that each paddle key changes from held to released or
// back, and the chance that Escape is held.
constexpr double KEY_TOGGLE_CHANCE = 0.15;
constexpr double ESCAPE_CHANCE = 1.0 / 4000;

constexpr int WINNING_SCORE = 5;
constexpr int PADDLE_TOP_Y = 7;
constexpr int PADDLE_BOTTOM_Y = 187;
constexpr int PADDLE_WIDTH = 11;
constexpr int PADDLE_HEIGHT = 50;
constexpr int PADDLE_X[2] = {1, 307};
constexpr int PADDLE_SPRITE_X[2] = {1, 25};
constexpr int PADDLE_SPRITE_Y = 1;
constexpr int PADDLE_BODY_Y = 6;
constexpr int BALL_SIZE = 12;
constexpr int BALL_SPRITE_Y = 114;
constexpr int BALL_CENTRE_X = 154;
constexpr int BALL_CENTRE_Y = 114;
constexpr int BALL_LEFT_EXIT_X = -12;  // the ball is out at this x or less
constexpr int BALL_RIGHT_EXIT_X = 332; // ... and past this x
constexpr int BALL_TOP_Y = 12;
constexpr int BALL_BOTTOM_Y = 229 - BALL_SIZE;
constexpr int BALL_X_AFTER_LEFT_HIT = 12;
constexpr int BALL_X_AFTER_RIGHT_HIT = 295;
constexpr double BALL_SPEED_X = 14.0;
constexpr double SERVE_PAUSE = 2.0;
constexpr double MAX_SPEED_Y_AFTER_HIT = 13.0;
// A longer frame may run in parts, the ball going on after a return.
constexpr Uint32 LONGEST_SINGLE_STEP_MS = 44;

long numberFromEnvironment(const char *name, long fallback) {
    const char *text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

struct Figures {
    long frames = 0;
    long matches = 0; // matches started
    long wins = 0;
    long escapes = 0;
    long points = 0;
    long paddleHits = 0;
    long clockWraps = 0;
};

// What one frame left behind, for comparison with the next.
struct Before {
    int score[2];
    bool ballInPlay;
    double ballSpeedX; // when the ball is in play: no command changes it
};

bool ballWaiting() { return TavrelBall.isPaused() != 0; }

// Everything that must hold after every frame. Returns what is wrong, or "".
std::string checkFrame(const Before &before, FrameSounds sounds, bool escapeHeld, bool firstFrame,
                       Uint32 frameMs, Figures &figures) {
    std::ostringstream wrong;

    for (int i = 0; i < 2; ++i) {
        const Player &p = Players[i];
        if (p.worldRect.y < PADDLE_TOP_Y || p.worldRect.y > PADDLE_BOTTOM_Y)
            wrong << "paddle " << i << " at y " << p.worldRect.y << "; ";
        if (p.worldRect.x != PADDLE_X[i] || p.worldRect.w != PADDLE_WIDTH ||
            p.worldRect.h != PADDLE_HEIGHT)
            wrong << "paddle " << i << " rectangle x " << p.worldRect.x << " size " << p.worldRect.w
                  << "x" << p.worldRect.h << "; ";
        if (p.spriteRect.x != PADDLE_SPRITE_X[i] || p.spriteRect.y != PADDLE_SPRITE_Y ||
            p.spriteRect.w != PADDLE_WIDTH || p.spriteRect.h != PADDLE_HEIGHT ||
            p.bodyRect.y != PADDLE_BODY_Y)
            wrong << "paddle " << i << " sprite region or body changed; ";
    }

    const Ball &ball = TavrelBall;
    const SDL_Rect &b = ball.worldRect;
    if (b.w != BALL_SIZE || b.h != BALL_SIZE)
        wrong << "ball size " << b.w << "x" << b.h << "; ";
    if (ball.spriteRect.x != ballType * 13 + 1 || ball.spriteRect.y != BALL_SPRITE_Y ||
        ball.spriteRect.w != BALL_SIZE || ball.spriteRect.h != BALL_SIZE)
        wrong << "ball sprite region changed; ";
    if (ballWaiting()) {
        if (b.x != BALL_CENTRE_X || b.y != BALL_CENTRE_Y)
            wrong << "waiting ball at (" << b.x << "," << b.y << "), not the centre; ";
        if (std::fabs(ball.speedY) != BALL_SPEED_X)
            wrong << "waiting ball with vertical speed " << ball.speedY << "; ";
    } else if (b.x <= BALL_LEFT_EXIT_X || b.x > BALL_RIGHT_EXIT_X || b.y < BALL_TOP_Y ||
               b.y > BALL_BOTTOM_Y) {
        wrong << "ball in play at (" << b.x << "," << b.y << "), outside the field; ";
    }
    if (std::fabs(ball.speedX) != BALL_SPEED_X)
        wrong << "ball horizontal speed " << ball.speedX << "; ";
    if (ball.speedY != std::trunc(ball.speedY) || std::fabs(ball.speedY) > BALL_SPEED_X)
        wrong << "ball vertical speed " << ball.speedY << "; ";

    // A paddle hit turns the ball round in the update and places it just
    // off that paddle, level with it, moving down or straight across; a long
    // frame run in parts carries it on from there.
    const bool turned = (before.ballSpeedX > 0) != (ball.speedX > 0);
    const FrameSounds hitSounds = sounds & (SOUND_HIT_LEFT | SOUND_HIT_RIGHT);
    const bool returned = before.ballInPlay && !ballWaiting() && turned;
    if (hitSounds != (returned ? (ball.speedX > 0 ? SOUND_HIT_LEFT : SOUND_HIT_RIGHT) : 0))
        wrong << "paddle sounds " << int{hitSounds} << (returned ? " for a return" : "") << "; ";
    if (returned) {
        ++figures.paddleHits;
        const bool left = ball.speedX > 0;
        const SDL_Rect &p = Players[left ? 0 : 1].worldRect;
        const int expectedX = left ? BALL_X_AFTER_LEFT_HIT : BALL_X_AFTER_RIGHT_HIT;
        const int onwards = left ? b.x - expectedX : expectedX - b.x;
        if (frameMs > LONGEST_SINGLE_STEP_MS && onwards != 0) {
            if (onwards < 0 || onwards > BALL_SPEED_X * static_cast<double>(frameMs) / 60)
                wrong << (left ? "left" : "right")
                      << " paddle hit in a long frame left the ball at " << b.x << "; ";
        } else if (b.x != expectedX || b.y <= p.y || b.y >= p.y + p.h || ball.speedY < 0 ||
                   ball.speedY > MAX_SPEED_Y_AFTER_HIT)
            wrong << (left ? "left" : "right") << " paddle hit left the ball at (" << b.x << ","
                  << b.y << ") with vertical speed " << ball.speedY << ", paddle at y " << p.y
                  << "; ";
    }

    const int score[2] = {Players[0].getScore(), Players[1].getScore()};
    const int gained[2] = {score[0] - before.score[0], score[1] - before.score[1]};
    for (int i = 0; i < 2; ++i)
        if (gained[i] < 0 || gained[i] > 1 || score[i] > WINNING_SCORE)
            wrong << "player " << i + 1 << " score " << before.score[i] << " -> " << score[i]
                  << "; ";
    if (gained[0] + gained[1] > 1)
        wrong << "both players scored in one frame; ";
    if (gained[0] + gained[1] == 1) {
        ++figures.points;
        // The ball left past the scorer's opponent and waits anew in the centre.
        const bool leftOnTheRight = before.ballSpeedX > 0;
        if (leftOnTheRight != (gained[0] == 1))
            wrong << "player " << (gained[0] == 1 ? 1 : 2) << " scored from a ball moving "
                  << (leftOnTheRight ? "right" : "left") << "; ";
        if (ball.pauseTime != SERVE_PAUSE || !ballWaiting() || ball.speedX != BALL_SPEED_X ||
            ball.speedY != BALL_SPEED_X)
            wrong << "after a point the ball waits " << ball.pauseTime << " with speeds "
                  << ball.speedX << "," << ball.speedY << "; ";
    } else if (before.ballInPlay && ballWaiting()) {
        wrong << "the ball was re-served without a point; ";
    }

    int expectedFlag = 0;
    if (score[0] >= WINNING_SCORE)
        expectedFlag = 1;
    else if (score[1] >= WINNING_SCORE)
        expectedFlag = 2;
    else if (escapeHeld)
        expectedFlag = -1;
    if (quitFlag != expectedFlag)
        wrong << "quitFlag " << quitFlag << ", expected " << expectedFlag << " (scores " << score[0]
              << ":" << score[1] << (escapeHeld ? ", Escape held" : "") << "); ";

    const float expectedFactor =
        firstFrame ? FIRST_FRAME_TIME_FACTOR : static_cast<float>(frameMs) / MS_PER_TIME_UNIT;
    if (std::fabs(timeScaler - expectedFactor) > 1e-6f)
        wrong << "time factor " << timeScaler << " for a frame of " << frameMs << " ms"
              << (firstFrame ? " (the match's first)" : "") << ", expected " << expectedFactor
              << "; ";

    return wrong.str();
}

class SoakTest : public ::testing::Test {
  protected:
    void SetUp() override {
        harness::startGame();
        ASSERT_EQ(loadImages(), 0);
        ASSERT_EQ(loadSounds(), 0);
        fake::reset();
        fake::clockIsFake = true;
        fake::ticksPerRead = 0;
    }
    void TearDown() override {
        harness::releaseAllKeys();
        fake::reset();
    }
};

TEST_F(SoakTest, WholeMatchesKeepEveryRule) {
    const Uint32 seed = static_cast<Uint32>(
        numberFromEnvironment("KORRIN_SOAK_SEED", static_cast<long>(std::random_device{}())));
    const long frameCount = numberFromEnvironment("KORRIN_SOAK_FRAMES", DEFAULT_FRAMES);
    std::printf("soak seed %u, %ld frames\n", seed, frameCount);
    std::fflush(stdout);

    std::mt19937 rng(seed);
    std::uniform_int_distribution<Uint32> frameTime(0, MAX_FRAME_MS);
    std::uniform_int_distribution<int> anyBallType(0, 3);
    std::uniform_int_distribution<int> clockStart(0, 5);
    std::uniform_int_distribution<Uint32> nearWrap(0, 3000);
    std::bernoulli_distribution toggleKey(KEY_TOGGLE_CHANCE);
    std::bernoulli_distribution pressEscape(ESCAPE_CHANCE);

    const auto started = std::chrono::steady_clock::now();
    Figures figures;
    bool held[4] = {};
    bool matchRunning = false;
    bool firstFrame = false;

    for (long frame = 0; frame < frameCount; ++frame) {
        if (!matchRunning) {
            // A new match, as the match's start sets it up. Half of them
            // start with the clock just short of wrapping past 2^32, just
            // past 0 (the first frame's imagined previous one lies before
            // it), or just short of 2^31 (where the signed reading turns).
            const MatchStart start = {randomSeed(),
                                      static_cast<uint8_t>(figures.matches % 2 == 0 ? 1 : 2),
                                      static_cast<uint8_t>(anyBallType(rng))};
            switch (clockStart(rng)) {
            case 0:
                fake::now = 0xFFFFFFFFu - nearWrap(rng);
                break;
            case 1:
                fake::now = nearWrap(rng) / 100;
                break;
            case 2:
                fake::now = 0x7FFFFFFFu - nearWrap(rng);
                break;
            default:
                break;
            }
            startMatch(start);
            ++figures.matches;
            matchRunning = true;
            firstFrame = true;
        }

        for (int k = 0; k < 4; ++k) {
            if (toggleKey(rng))
                held[k] = !held[k];
        }
        const FrameInput input = {{held[0], held[2]}, {held[1], held[3]}, pressEscape(rng), false};
        const Uint32 frameMs = frameTime(rng);
        const Uint32 clockBefore = fake::now;
        fake::now += frameMs;
        if (fake::now < clockBefore)
            ++figures.clockWraps;

        Before before;
        before.score[0] = Players[0].getScore();
        before.score[1] = Players[1].getScore();
        before.ballInPlay = !ballWaiting();
        before.ballSpeedX = TavrelBall.speedX;

        const FrameSounds sounds = runFrame(input, measureFrameMs());
        if (frame % DRAW_EVERY_N_FRAMES == 0) {
            drawScreen();
            fake::blits.clear();
        }

        const std::string wrong =
            checkFrame(before, sounds, input.leave, firstFrame, frameMs, figures);
        if (!wrong.empty())
            FAIL() << "seed " << seed << ", frame " << frame << " (match " << figures.matches
                   << ", " << numPlayers << " player(s)): " << wrong
                   << "\nreproduce with KORRIN_SOAK_SEED=" << seed
                   << " KORRIN_SOAK_FRAMES=" << frame + 1;
        ++figures.frames;
        firstFrame = false;
        if (quitFlag != 0) {
            matchRunning = false;
            if (quitFlag == -1)
                ++figures.escapes;
            else
                ++figures.wins;
        }
    }

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("soak seed %u: %ld frames, %ld matches (%ld won, %ld left with Escape), %ld "
                "points, %ld paddle hits, %ld clock wraps, %.1f s\n",
                seed, figures.frames, figures.matches, figures.wins, figures.escapes,
                figures.points, figures.paddleHits, figures.clockWraps, seconds);
    // A run of the default length or longer must have played real matches,
    // not stood at the serve.
    if (frameCount >= DEFAULT_FRAMES) {
        EXPECT_GT(figures.wins, 0);
        EXPECT_GE(figures.points, figures.wins * WINNING_SCORE);
        EXPECT_GT(figures.paddleHits, 0);
        EXPECT_GT(figures.clockWraps, 0);
    }
}
} // namespace
