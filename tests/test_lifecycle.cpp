// A match from start to end: the layout after resetAll, whole matches played
// through startGame on the fake clock, the hold, recorded matches shown at
// their pace (playback), the wait for silent channels before the release,
// and the process ending when an asset is missing.
#include <gtest/gtest.h>

#include <SDL_mixer.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "desktop.h"
#include "match_fixture.h"
#include "menu.h"
#include "playback.h"
#include "snapshot.h"

namespace {
// Called on every SDL_Flip, after counting it.
std::function<void()> onFlip;
// Called whenever the game pumps events: once a pass of its loops, before it
// reads the keys.
std::function<void()> onPump;
int flips = 0;
Uint32 lastFlipAt = 0; // the fake clock at the latest SDL_Flip
// While not empty, Mix_Playing answers from here instead of the mixer.
std::deque<int> playingScript;
// For every chunk the game frees: how many channels were playing then.
std::vector<int> playingAtFree;
} // namespace

extern "C" {
void __real_SDL_PumpEvents(void);
int __real_SDL_Flip(SDL_Surface *screen);
int __real_Mix_Playing(int channel);
void __real_Mix_FreeChunk(Mix_Chunk *chunk);
void __real_SDL_Delay(Uint32 ms);

void __wrap_SDL_PumpEvents(void) {
    __real_SDL_PumpEvents();
    if (onPump)
        onPump();
}

int __wrap_SDL_Flip(SDL_Surface *surface) {
    ++flips;
    lastFlipAt = fake::now;
    if (onFlip)
        onFlip();
    return __real_SDL_Flip(surface);
}

int __wrap_Mix_Playing(int channel) {
    if (!playingScript.empty()) {
        const int playing = playingScript.front();
        playingScript.pop_front();
        return playing;
    }
    const int playing = __real_Mix_Playing(channel);
    if (playing > 0)
        __real_SDL_Delay(5); // the fake SDL_Delay does not sleep: let the mixer get on
    return playing;
}

void __wrap_Mix_FreeChunk(Mix_Chunk *chunk) {
    playingAtFree.push_back(playingScript.empty() ? __real_Mix_Playing(-1) : -1);
    __real_Mix_FreeChunk(chunk);
}
}

namespace {
constexpr int TILE_BLITS = 660;

class LifecycleTest : public FakeClockTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(FakeClockTest::SetUp());
        flips = 0;
        onFlip = nullptr;
        onPump = nullptr;
        playingScript.clear();
        playingAtFree.clear();
    }
    void TearDown() override {
        onFlip = nullptr;
        onPump = nullptr;
        FakeClockTest::TearDown();
    }
};

// Puts the ball just past an edge, in play, so that the next frame scores:
// past the right edge a point for player 1, past the left one for player 2.
void scoreNextFrameFor(int player) {
    TavrelBall.pauseTime = 0.0;
    TavrelBall.worldRect.x = player == 0 ? 400 : -100;
}

// The index of the first game-over tile among the recorded blits, or -1.
int firstTileBlit() {
    for (size_t i = 0; i < fake::blits.size(); ++i)
        if (fake::blits[i].sourceRect == SDL_Rect{23, 102, 11, 11})
            return static_cast<int>(i);
    return -1;
}

int countDelays(Uint32 ms) {
    int count = 0;
    for (Uint32 delay : fake::delays)
        count += delay == ms;
    return count;
}

// ---- Layout

TEST_F(LifecycleTest, ResetAllLaysOutEveryValueForEachBall) {
    for (int type = 0; type < 4; ++type) {
        SCOPED_TRACE(type);
        // Whatever an earlier match left behind.
        for (Player &paddle : Players) {
            paddle.score = 5;
            paddle.speed = -11;
            paddle.worldRect = {9, 7, 3, 3};
            paddle.spriteRect = {200, 200, 1, 1};
            paddle.bodyRect.y = 40;
        }
        TavrelBall.worldRect = {300, -20, 5, 5};
        TavrelBall.spriteRect = {0, 0, 1, 1};
        TavrelBall.setSpeed(-14.0, 3.0);
        TavrelBall.pauseTime = -7.0;
        resetGame = 0;
        ballType = type;

        resetAll();

        const SDL_Rect paddleSprite[2] = {{1, 1, 11, 50}, {25, 1, 11, 50}};
        const SDL_Rect paddleWorld[2] = {{1, 95, 11, 50}, {307, 95, 11, 50}};
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(Players[i].spriteRect, paddleSprite[i]);
            EXPECT_EQ(Players[i].worldRect, paddleWorld[i]);
            EXPECT_EQ(Players[i].bodyRect.y, 6);
            EXPECT_EQ(Players[i].score, 0.0);
            EXPECT_EQ(Players[i].speed, 0.0);
        }
        EXPECT_EQ(TavrelBall.spriteRect,
                  (SDL_Rect{static_cast<Sint16>(1 + 13 * type), 114, 12, 12}));
        EXPECT_EQ(TavrelBall.worldRect, (SDL_Rect{154, 114, 12, 12}));
        EXPECT_EQ(TavrelBall.speedX, 14.0);
        EXPECT_EQ(TavrelBall.speedY, 14.0);
        EXPECT_EQ(TavrelBall.pauseTime, 3.0);
        EXPECT_EQ(resetGame, 1);
    }
}

// ---- Whole matches

TEST_F(LifecycleTest, SecondMatchAfterAFiveToThreeMatchStartsFresh) {
    // First match: player 1 holds the up arrow throughout, so the left paddle
    // ends at the top of its travel; the points come once it is there.
    const int pointsTo[] = {0, 1, 0, 1, 0, 1, 0, 0};
    size_t pointsGiven = 0;
    int frame = 0;
    // What each SDL_Flip showed: player 1's score, quitFlag and the blits so far.
    struct Shown {
        double leftScore;
        int flag;
        size_t blits;
    };
    std::vector<Shown> shown;
    onFlip = [&] {
        ++frame;
        shown.push_back({Players[0].score, quitFlag, fake::blits.size()});
        if (frame >= 30 && pointsGiven < std::size(pointsTo))
            scoreNextFrameFor(pointsTo[pointsGiven++]);
    };
    harness::holdKey(SDLK_UP);
    startGame();

    EXPECT_EQ(quitFlag, 1);
    EXPECT_EQ(Players[0].getScore(), 5);
    EXPECT_EQ(Players[1].getScore(), 3);
    EXPECT_EQ(Players[0].worldRect.y, 7);
    // The frame of the fifth point is drawn, with the short banner, and then
    // the game-over screen with player 1's banner.
    const int tiles = firstTileBlit();
    ASSERT_GE(tiles, 0);
    ASSERT_GE(shown.size(), 2u);
    const Shown &lastFrame = shown[shown.size() - 2];
    EXPECT_EQ(lastFrame.leftScore, 5.0);
    EXPECT_EQ(lastFrame.flag, 1);
    EXPECT_EQ(lastFrame.blits, static_cast<size_t>(tiles));
    EXPECT_EQ(fake::blits[tiles - 1].sourceRect, (SDL_Rect{142, 127, 83, 27}));
    EXPECT_EQ(shown.back().blits, fake::blits.size());
    ASSERT_EQ(fake::blits.size(), static_cast<size_t>(tiles + TILE_BLITS + 2));
    EXPECT_EQ(fake::blits.back().sourceRect, (SDL_Rect{49, 58, 349, 27}));
    // The game-over picture is held five seconds; nothing plays, so no wait after it.
    EXPECT_EQ(fake::now - lastFlipAt, 5000u);
    EXPECT_EQ(countDelays(50), 100); // meanwhile the window is answered every 50 ms
    EXPECT_EQ(scoreText[0], nullptr);
    EXPECT_EQ(scoreText[1], nullptr);

    // Second match, against the computer, won by it.
    harness::releaseAllKeys();
    numPlayers = 1;
    fake::blits.clear();
    fake::delays.clear();
    frame = 0;
    pointsGiven = 0;
    Player firstFrame[2];
    Ball firstFrameBall;
    onFlip = [&] {
        if (++frame == 1) {
            firstFrame[0] = Players[0];
            firstFrame[1] = Players[1];
            firstFrameBall = TavrelBall;
        }
        if (pointsGiven < 5) {
            scoreNextFrameFor(1);
            ++pointsGiven;
        }
    };
    startGame();

    for (const Player &paddle : firstFrame) {
        EXPECT_EQ(paddle.score, 0.0);
        EXPECT_EQ(paddle.speed, 0.0);
        EXPECT_EQ(paddle.worldRect.y, 95);
    }
    EXPECT_EQ(firstFrame[0].worldRect, (SDL_Rect{1, 95, 11, 50}));
    EXPECT_EQ(firstFrame[1].worldRect, (SDL_Rect{307, 95, 11, 50}));
    EXPECT_EQ(firstFrameBall.worldRect, (SDL_Rect{154, 114, 12, 12}));
    EXPECT_DOUBLE_EQ(firstFrameBall.pauseTime, 3.0 - 0.5 / 20.0); // the first frame's factor
    EXPECT_EQ(quitFlag, 2);
    EXPECT_EQ(Players[0].getScore(), 0);
    EXPECT_EQ(Players[1].getScore(), 5);
    EXPECT_EQ(fake::blits.back().sourceRect, (SDL_Rect{49, 30, 349, 27}));
    EXPECT_GE(fake::now - lastFlipAt, 5000u);
    EXPECT_EQ(scoreText[0], nullptr);
    EXPECT_EQ(scoreText[1], nullptr);
}

TEST_F(LifecycleTest, EscapeInTheFirstFrameDrawsItAndShowsNoGameOver) {
    harness::holdKey(SDLK_ESCAPE);
    windowAway = true; // the window went away during the menu: the match starts off hold
    startGame();
    EXPECT_EQ(quitFlag, -1);
    EXPECT_EQ(flips, 1);
    EXPECT_EQ(fake::blits.size(), 7u); // one frame, banner included
    EXPECT_EQ(firstTileBlit(), -1);
    EXPECT_EQ(fake::now, lastFlipAt); // no hold after the last frame
    EXPECT_EQ(scoreText[0], nullptr);
    EXPECT_EQ(scoreText[1], nullptr);
}

// ---- Close requests

// The window's close button, SIGINT and SIGTERM all reach the game as a quit
// event. Each screen then ends as the player would leave it, at once: the
// third flip is the last, and nothing is held after it.
TEST_F(LifecycleTest, AQuitEventEndsEveryScreenAtOnce) {
    enum Screen { MENU, SERVE_WAIT, PLAY, GAME_OVER };
    struct Case {
        Screen screen;
        int quitAtFlip;
        int quitFlag; // as the screen leaves it
        std::vector<std::string> lines;
    } const cases[] = {
        {MENU, 2, 1, {"Showing menu now", "Exiting menu."}}, // as if QUIT were chosen
        {SERVE_WAIT, 2, -1, {}},
        {PLAY, 2, -1, {}},
        // The second frame scores the fifth point, the third flip shows the
        // game-over picture, and the quit event queued then takes it down.
        {GAME_OVER, 3, 1, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.screen);
        closeRequested = false;
        numPlayers = 2;
        flips = 0;
        fake::blits.clear();
        onFlip = [&] {
            if (flips == 1 && c.screen == PLAY)
                TavrelBall.pauseTime = 0.0;
            if (flips == 1 && c.screen == GAME_OVER) {
                Players[0].score = 4;
                scoreNextFrameFor(0);
            }
            if (flips == c.quitAtFlip) {
                SDL_Event quit{};
                quit.type = SDL_QUIT;
                SDL_PushEvent(&quit);
            }
            if (flips == 20)
                quitFlag = -2; // the quit event went unheeded: end the screen by force
        };
        harness::StdoutCapture out;
        if (c.screen == MENU)
            EXPECT_EQ(showMenu(), 0);
        else
            startGame();

        EXPECT_EQ(out.lines(), c.lines);
        EXPECT_EQ(flips, 3);
        EXPECT_EQ(fake::now, lastFlipAt);
        EXPECT_EQ(quitFlag, c.quitFlag);
        EXPECT_EQ(numPlayers, c.screen == MENU ? 0 : 2);
        EXPECT_EQ(firstTileBlit() >= 0, c.screen == GAME_OVER);
        EXPECT_EQ(TavrelBall.isPaused() == 0, c.screen == PLAY);
    }
}

// ---- The hold: the players' pause

// A one-player match, player 1 holding Down throughout. The hold begins in
// pass HOLD_PASS, its key held for three passes (or the window going away
// just before, and coming back during it); F11 during the hold presents the
// picture once more; in pass OFF_HOLD_PASS P takes it off hold, or Escape
// leaves; Escape in pass END_PASS ends the match.
TEST_F(LifecycleTest, HoldStopsEveryMovingPartAndResumesWithoutAJump) {
    constexpr size_t HOLD_PASS = 3, FULLSCREEN_PASS = 6, OFF_HOLD_PASS = 9, END_PASS = 12;
    constexpr SDL_Rect HOLD_BANNER = {227, 127, 119, 27};
    struct Case {
        const char *name;
        SDLKey holdKey; // SDLK_UNKNOWN: the window goes away instead
        Uint8 away;     // the state the window loses
        bool ballInPlay;
        SDLKey offHoldKey;
    } const cases[] = {
        {"P, the ball in play", SDLK_p, 0, true, SDLK_p},
        {"Pause", SDLK_PAUSE, 0, true, SDLK_p},
        {"focus lost", SDLK_UNKNOWN, SDL_APPINPUTFOCUS, true, SDLK_p},
        {"minimised", SDLK_UNKNOWN, SDL_APPACTIVE, false, SDLK_p},
        {"Escape leaves from the hold", SDLK_p, 0, true, SDLK_ESCAPE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        numPlayers = 1;
        flips = 0;
        fake::blits.clear();
        std::vector<uint64_t> hashes; // the match's state as each pass began
        std::vector<int> flipsBefore; // flips before each pass
        std::vector<float> factors;   // the time factor of the frame before each pass
        onFlip = [&] {
            if (flips == 1 && c.ballInPlay)
                TavrelBall.pauseTime = 0.0; // served at once
        };
        onPump = [&] {
            hashes.push_back(matchHash());
            flipsBefore.push_back(flips);
            factors.push_back(timeScaler);
            const size_t pass = hashes.size();
            harness::releaseAllKeys();
            harness::holdKey(SDLK_DOWN);
            if (pass >= HOLD_PASS && pass < HOLD_PASS + 3 && c.holdKey != SDLK_UNKNOWN)
                harness::holdKey(c.holdKey);
            SDL_Event event{}; // read in the next pass
            if (c.holdKey == SDLK_UNKNOWN && (pass == HOLD_PASS - 1 || pass == HOLD_PASS + 2)) {
                event.type = SDL_ACTIVEEVENT;
                event.active.gain = pass == HOLD_PASS - 1 ? 0 : 1;
                event.active.state = c.away;
            } else if (pass == FULLSCREEN_PASS) {
                event.type = SDL_KEYDOWN;
                event.key.keysym.sym = FULLSCREEN_KEY;
            }
            if (event.type != SDL_NOEVENT)
                SDL_PushEvent(&event);
            if (pass == OFF_HOLD_PASS)
                harness::holdKey(c.offHoldKey);
            if (pass == END_PASS)
                harness::holdKey(SDLK_ESCAPE);
            if (pass > END_PASS)
                quitFlag = -2; // Escape went unheeded: end the match by force
        };
        startGame();

        EXPECT_EQ(quitFlag, -1);
        const bool leftOnHold = c.offHoldKey == SDLK_ESCAPE;
        ASSERT_EQ(hashes.size(), leftOnHold ? OFF_HOLD_PASS : END_PASS);
        EXPECT_NE(hashes[HOLD_PASS - 2], hashes[HOLD_PASS - 1]); // moving before the hold
        for (size_t pass = HOLD_PASS + 1; pass <= OFF_HOLD_PASS; ++pass)
            EXPECT_EQ(hashes[pass - 1], hashes[HOLD_PASS - 1]) << "pass " << pass;
        // One picture for the whole hold, the banner over the stopped frame,
        // presented again after F11.
        EXPECT_EQ(flipsBefore[FULLSCREEN_PASS] - flipsBefore[HOLD_PASS - 1], 1);
        EXPECT_EQ(flipsBefore[OFF_HOLD_PASS - 1] - flipsBefore[HOLD_PASS - 1], 2);
        EXPECT_EQ(std::count_if(fake::blits.begin(), fake::blits.end(),
                                [&](const fake::Blit &b) { return b.sourceRect == HOLD_BANNER; }),
                  1);
        if (!leftOnHold) {
            // Off hold, the clock restarts: the first frame counts 30 ms.
            EXPECT_FLOAT_EQ(factors[OFF_HOLD_PASS], 0.5f);
            EXPECT_NE(hashes[OFF_HOLD_PASS], hashes[OFF_HOLD_PASS - 1]);
        }
        EXPECT_FALSE(windowAway);
    }
}

// ---- The frame hold

TEST_F(LifecycleTest, FramesStartAFramePeriodApartUnlessTheirWorkTakesLonger) {
    constexpr size_t FRAMES = 6;
    struct Case {
        Uint32 workMs;              // the clock's advance while each frame is drawn
        Uint32 period;              // from one frame's start to the next
        std::vector<Uint32> delays; // asked for between two frames
    } const cases[] = {
        {0, FRAME_PERIOD_MS, {FRAME_PERIOD_MS}},
        {10, FRAME_PERIOD_MS, {FRAME_PERIOD_MS - 10}},
        {FRAME_PERIOD_MS, FRAME_PERIOD_MS, {}}, // exactly a period: no wait
        {30, 30, {}},                           // longer than a period: no wait either
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.workMs);
        fake::delays.clear();
        std::vector<Uint32> flippedAt;
        std::vector<std::vector<Uint32>> delaysBefore; // each frame's, since the last flip
        size_t delaysSeen = 0;
        onFlip = [&] {
            flippedAt.push_back(fake::now);
            delaysBefore.emplace_back(fake::delays.begin() + delaysSeen, fake::delays.end());
            delaysSeen = fake::delays.size();
            fake::now += c.workMs;
            if (flippedAt.size() == FRAMES)
                quitFlag = -1;
        };
        startGame();
        ASSERT_EQ(flippedAt.size(), FRAMES);
        // The first frame waits on whatever came before the match: not checked.
        for (size_t i = 1; i < FRAMES; ++i) {
            EXPECT_EQ(flippedAt[i] - flippedAt[i - 1], c.period) << "frame " << i;
            EXPECT_EQ(delaysBefore[i], c.delays) << "frame " << i;
        }
    }
}

// The ball and the paddles keep their nominal speeds, written out here and not
// derived from FRAME_PERIOD_MS, within 10 %, with each frame's work taking most
// of a period (a period of 20 ms instead of 22 slows them by 12 % and 17 %).
TEST_F(LifecycleTest, FramePacingKeepsTheNominalSpeeds) {
    constexpr double BALL_PX_PER_60_MS = 14.0, PADDLE_PX_PER_60_MS = 11.0, TOLERANCE = 0.10;
    constexpr int FRAMES = 1500;
    constexpr Uint32 WORK_MS = 12;
    constexpr Sint16 PADDLE_TOP_Y = 7, PADDLE_BOTTOM_Y = 187;
    numPlayers = 1;
    struct Sample {
        Uint32 at;
        Sint16 ballX, paddleY;
        double ballSpeedX, ballSpeedY, ballPause;
    } previous{}, now{};
    double ballMs = 0, ballPixels = 0, paddleMs = 0, paddlePixels = 0;
    int frame = 0;
    onFlip = [&] {
        now = {fake::now,         TavrelBall.worldRect.x, Players[0].worldRect.y,
               TavrelBall.speedX, TavrelBall.speedY,      TavrelBall.pauseTime};
        const double ms = now.at - previous.at;
        // The ball in play, neither bounced nor served in this frame.
        if (frame > 0 && previous.ballPause <= 0 && now.ballPause <= 0 &&
            previous.ballSpeedX == now.ballSpeedX && previous.ballSpeedY == now.ballSpeedY) {
            ballMs += ms;
            ballPixels += std::abs(now.ballX - previous.ballX);
        }
        if (frame > 0 && now.paddleY > PADDLE_TOP_Y && now.paddleY < PADDLE_BOTTOM_Y) {
            paddleMs += ms;
            paddlePixels += std::abs(now.paddleY - previous.paddleY);
        }
        previous = now;
        // Player 1 steers from bound to bound; nobody wins.
        if (frame == 0 || now.paddleY <= PADDLE_TOP_Y || now.paddleY >= PADDLE_BOTTOM_Y) {
            harness::holdKey(SDLK_UP, now.paddleY > PADDLE_TOP_Y);
            harness::holdKey(SDLK_DOWN, now.paddleY <= PADDLE_TOP_Y);
        }
        Players[0].score = Players[1].score = 0;
        fake::now += WORK_MS;
        if (++frame == FRAMES)
            quitFlag = -1;
    };
    startGame();
    EXPECT_NEAR(ballPixels / ballMs * 60, BALL_PX_PER_60_MS, BALL_PX_PER_60_MS * TOLERANCE);
    EXPECT_NEAR(paddlePixels / paddleMs * 60, PADDLE_PX_PER_60_MS, PADDLE_PX_PER_60_MS * TOLERANCE);
}

// A replay shows each recorded frame when the recorded lengths say (1 ms
// waits 1 ms, 0 ms none), match after match, until the viewer's Escape ends
// it; each picture shows the frame just run (player 1's paddle going down).
TEST_F(LifecycleTest, RecordedFramesAreShownAtTheirPaceUntilTheViewerLeaves) {
    constexpr uint8_t DOWN = BUTTON_DOWN_1;
    const RecordedMatch first{{1, 2, 0}, {{DOWN, 22}, {DOWN, 1}, {DOWN, 0}, {DOWN, 30}}, {}};
    const RecordedMatch second{{1, 2, 0}, {{DOWN, 22}}, {}};
    const struct {
        size_t escapePass;
        std::vector<Uint32> flipsMs; // after the start
    } cases[] = {{0, {22, 23, 23, 53, 75}}, {3, {22, 23}}, {5, {22, 23, 23, 53}}};
    for (const auto &c : cases) {
        size_t pass = 0;
        onPump = [&] { harness::holdKey(SDLK_ESCAPE, ++pass == c.escapePass); };
        std::vector<Uint32> flipsMs;
        const Uint32 start = fake::now;
        std::vector<int> drawnRows, matchRows; // player 1's paddle, at each flip
        onFlip = [&] {
            flipsMs.push_back(fake::now - start);
            for (const fake::Blit &blit : fake::blits)
                if (blit.source == sprites && blit.sourceRect == Players[0].spriteRect)
                    drawnRows.push_back(blit.destGiven.y);
            matchRows.push_back(Players[0].worldRect.y);
            fake::blits.clear();
        };
        EXPECT_TRUE(showRecordedMatches({first, second}).ok());
        EXPECT_EQ(drawnRows, matchRows);
        EXPECT_EQ(flipsMs, c.flipsMs) << "Escape in pass " << c.escapePass;
    }
}

// ---- The drain

TEST_F(LifecycleTest, DrainPollsEveryHundredMillisecondsUntilAllChannelsAreSilent) {
    struct Case {
        std::deque<int> playing; // what Mix_Playing(-1) answers, poll by poll
        int waits;
    } cases[] = {{{0}, 0}, {{1, 0}, 1}, {{2, 2, 1, 1, 0}, 4}};
    harness::holdKey(SDLK_ESCAPE);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.waits);
        fake::delays.clear();
        playingAtFree.clear();
        onFlip = [&] { playingScript = c.playing; };
        startGame();
        EXPECT_TRUE(playingScript.empty());
        EXPECT_EQ(countDelays(100), c.waits);
        if (c.waits > 0) {
            EXPECT_EQ(fake::delays.back(), 100u);
        }
        // Both chunks are freed after the last poll, not before.
        EXPECT_EQ(playingAtFree, (std::vector<int>{0, 0}));
    }
}

TEST_F(LifecycleTest, LongSoundStillPlayingDelaysTheReturn) {
    // A tone of a second and a half on the channel the match does not use.
    harness::Tone tone(1500);
    ASSERT_NE(tone.chunk, nullptr);
    ASSERT_EQ(Mix_PlayChannel(3, tone.chunk, 0), 3);

    bool playingWhenTheLoopEnded = false;
    onFlip = [&] { playingWhenTheLoopEnded = __real_Mix_Playing(3) == 1; };
    harness::holdKey(SDLK_ESCAPE);
    startGame();

    EXPECT_TRUE(playingWhenTheLoopEnded);
    EXPECT_GE(countDelays(100), 1);
    EXPECT_EQ(fake::delays.back(), 100u);
    EXPECT_EQ(__real_Mix_Playing(-1), 0);
    EXPECT_EQ(playingAtFree, (std::vector<int>{0, 0}));
}

// ---- A missing asset ends the process

// What the process wrote to stderr, less the disk audio driver's own warning
// (as classic SDL 1.2 and as SDL2 under sdl12-compat word it).
std::string withoutDiskAudioWarning(const std::string &output) {
    static const char *const WARNING_STARTS[] = {
        "WARNING: You are using the SDL disk writer", " Writing to file [",
        "CRITICAL: You are using the SDL disk i/o audio driver!", "CRITICAL:  Writing to file ["};
    std::string kept;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end + 1;
        const std::string line = output.substr(start, end - start);
        if (std::none_of(std::begin(WARNING_STARTS), std::end(WARNING_STARTS),
                         [&](const char *warning) { return line.rfind(warning, 0) == 0; }))
            kept += line;
        start = end;
    }
    return kept;
}

// Matches what the process wrote to stderr, the driver's warning taken out.
struct PrintsExactly {
    using is_gtest_matcher = void;
    std::string expected;
    bool MatchAndExplain(const std::string &output, std::ostream *os) const {
        const std::string printed = withoutDiskAudioWarning(output);
        if (os)
            *os << "which prints \"" << printed << "\"";
        return printed == expected;
    }
    void DescribeTo(std::ostream *os) const { *os << "prints exactly \"" << expected << "\""; }
    void DescribeNegationTo(std::ostream *os) const {
        *os << "does not print exactly \"" << expected << "\"";
    }
};

// Runs a match in the given asset folder with everything it prints sent to
// stderr, where the death test reads it. A frame drawn says so.
void startGameInAssetFolder(const std::string &folder) {
    if (chdir(folder.c_str()) != 0)
        exit(99);
    fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    onFlip = [] { puts("frame drawn"); };
    startGame();
    exit(0);
}

TEST_F(LifecycleTest, MissingImageEndsTheProcessBeforeAnyFrame) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char *missing : {"img/game-sprites.png", "img/game.png"}) {
        SCOPED_TRACE(missing);
        const harness::AssetsWithout assets(missing);
        EXPECT_EXIT(startGameInAssetFolder(assets.path()), ::testing::ExitedWithCode(1),
                    PrintsExactly{"Unable to load a necessary PNG file.\n"
                                  "Error loading images. Aborting.\n"});
        // The replay screen returns the failure instead, for main to print.
        ASSERT_EQ(chdir(assets.path().c_str()), 0);
        harness::StdoutCapture out;
        EXPECT_EQ(showRecordedMatches({RecordedMatch{}}).error, "Error loading images. Aborting.");
        EXPECT_EQ(out.lines(), std::vector<std::string>{"Unable to load a necessary PNG file."});
        releaseMatchMedia();
        ASSERT_EQ(chdir(KORRIN_SOURCE_DIR), 0);
    }
}

TEST_F(LifecycleTest, MissingSoundEndsTheProcessBeforeAnyFrame) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const harness::AssetsWithout assets("snd/bounce.wav");
    // The error SDL gives for the missing file, found the same way here.
    ASSERT_EQ(chdir(assets.path().c_str()), 0);
    ASSERT_EQ(Mix_LoadWAV("snd/bounce.wav"), nullptr);
    const std::string error = SDL_GetError();
    ASSERT_EQ(chdir(KORRIN_SOURCE_DIR), 0);
    EXPECT_FALSE(error.empty());

    EXPECT_EXIT(startGameInAssetFolder(assets.path()), ::testing::ExitedWithCode(1),
                PrintsExactly{"Mix_LoadWAV error occurred: " + error +
                              "\nError loading sounds. Aborting.\n"});
}
} // namespace
